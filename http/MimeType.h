#pragma once

#include <string>

// The Content-Type of a served file by its extension (case-insensitive); "text/plain" for any
// other name, as the download port has always answered.
const char* mimeTypeOf(const std::string& path);
