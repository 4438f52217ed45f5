// Why a source could not be played, as far as the host can tell by itself.
#pragma once

#include <string>

namespace host {

// For a local path: "" when it is a non-empty regular file, else what is
// wrong ("no such file: P", "P is a directory", "P is empty", ...).
std::string CheckFile(const std::string& path);

// For an http(s) URL that the plug-in could not open: asks the server once
// (connect, and for http a GET's status line; at most a few seconds) and
// says what went wrong, or "" when the server seems to answer well.
std::string ProbeUrl(const std::string& url);

}  // namespace host
