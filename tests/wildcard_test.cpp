// Windows-style wildcard matching of bare names.
#include "convert/wildcard.h"

#include <gtest/gtest.h>

namespace {

TEST(Wildcard, Patterns) {
  struct Case {
    const char* pattern;
    const char* name;
    bool matches;
  };
  const Case cases[] = {
      {"*.med", "a.med", true},   {"*.med", "A.MED", true},
      {"*.med", ".med", true},    {"*.med", "a.med.wav", false},
      {"*.med", "a.b.med", true}, {"*.med", "amed", false},
      {"*.wav", "x.WaV", true},   {"?.wav", "ab.wav", false},
      {"??.wav", "ab.wav", true}, {"*", "", true},
      {"*.med", "", false},       {"a*b*c", "aXbYbZc", true},
      {"a*b*c", "aXbYbZ", false}, {"*.med", "..", false},
      {"*.med", "x.medx", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.pattern) + " ~ " + c.name);
    EXPECT_EQ(WildcardMatch(c.pattern, c.name), c.matches);
  }
}

}  // namespace
