// Lets a folder be a library before it has sources of its own.
