// The command-line tools are made for servers, which have no display: neither may load a GUI
// library, directly or through another library.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

std::string sharedLibrariesOf(const std::string& program) {
  std::string out;
  if (FILE* p = ::popen(("ldd '" + program + "' 2>&1").c_str(), "r")) {
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, p)) > 0;) out.append(buffer, n);
    ::pclose(p);
  }
  return out;
}

}  // namespace

TEST(ToolLibraries, NeitherToolLoadsAGuiLibrary) {
  for (const char* tool : {"vfpsql", "quillmere-transfer"}) {
    const std::string libraries = sharedLibrariesOf(std::string(QM_BINARY_DIR) + "/tools/" + tool);
    // ldd ran and found the program: every program here loads the C library.
    ASSERT_NE(libraries.find("libc.so"), std::string::npos) << tool << ":\n" << libraries;
    for (const char* gui : {"libQt6Gui", "libQt6Widgets", "libQt6OpenGL", "libqscintilla", "libX11",
                            "libxcb", "libxkbcommon", "libEGL", "libGL.", "libGLX", "libOpenGL"})
      EXPECT_EQ(libraries.find(gui), std::string::npos) << tool << " loads " << gui << ":\n"
                                                        << libraries;
  }
}
