// Builds a whole compound index file from sorted keys, the way FoxPro lays out a freshly
// created index: file header at 0, tag directory at 1024, then each tag's 1024-byte header
// followed by its leaves (packed left to right) and interior levels.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "vfp/cdx_format.h"
#include "vfp/cdx_reader.h"

namespace vfp::cdx {

struct TagBuild {
  std::string name;               // stored upper case, at most 10 characters
  TagHeader header;               // root is filled in by the builder
  std::vector<KeyEntry> entries;  // in index order, every key header.keyLength bytes
  std::uint8_t pad = ' ';         // dropped trailing byte: 0x20 character keys, 0x00 others
};

// Tags are written in the order given (FoxPro keeps creation order); the directory lists them
// by name. Throws CdxError for keys of the wrong length or duplicate tag names.
std::vector<std::uint8_t> buildIndexFile(const std::vector<TagBuild>& tags);

// Sorts (key, record number) pairs into index order: bytewise by key, ties by record number;
// for UNIQUE tags keeps only the first record of each key.
void sortEntries(std::vector<KeyEntry>& entries, bool unique);

}  // namespace vfp::cdx
