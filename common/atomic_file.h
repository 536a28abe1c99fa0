#pragma once

#include <string>
#include <vector>

namespace qrv {

// Writes content to a temporary file beside path and renames it into place, so a
// failed write never leaves a half file. Returns false and sets error on failure.
bool WriteFileAtomically(const std::string& path, const std::string& content, std::string* error);

// Joins lines with CR LF after every line (the line ends of the files operators have).
std::string JoinCrLf(const std::vector<std::string>& lines);

// Reads a whole file; false and error when it cannot be read.
bool ReadWholeFile(const std::string& path, std::string* content, std::string* error);

// Splits text into lines as a plain text read yields them: CR LF or LF line ends,
// no extra empty line after a final line end. A UTF-8 byte-order mark at the
// start of the text is dropped. Every reader of HEX files takes its lines here.
std::vector<std::string> SplitLines(const std::string& text);

}  // namespace qrv
