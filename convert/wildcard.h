// Wildcard matching of bare file names as Windows searches do it.
#pragma once

#include <string>

// True when `name` matches `pattern`: '*' any run, '?' any one byte, ASCII case ignored.
bool WildcardMatch(const std::string& pattern, const std::string& name);
