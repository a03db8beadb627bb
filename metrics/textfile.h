// Replaces a file whole: the text goes to a hidden file beside it, which is then
// renamed over it, so a reader (the node exporter's textfile collector) never
// sees half a file.
#pragma once

#include <string>

// False with *error (naming the file) when the text could not be written; the
// old file is then left as it was.
bool writeFileAtomically(const std::string& path, const std::string& text, std::string* error);
