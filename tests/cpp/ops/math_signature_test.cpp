// The math signature's format, and its list of the vector routines the
// self-check chose.
#include "ops/math_signature.hpp"

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "ops/vector_math.hpp"

namespace tov::vmath {
namespace {

TEST(VectorSelfCheck, SignatureNamesTheChosenRoutines) {
  const std::string signature = math_signature();
  const std::size_t list = signature.rfind("-v:");
  ASSERT_NE(list, std::string::npos) << signature;
  ASSERT_GT(list, 13u) << signature;
  EXPECT_EQ(signature[list - 13], '-') << signature;
  EXPECT_EQ(signature.substr(list - 12, 12).find_first_not_of("0123456789abcdef"),
            std::string::npos)
      << signature;
#if defined(__x86_64__) && defined(__GLIBC__)
  EXPECT_EQ(signature.rfind("x86_64-glibc", 0), 0u) << signature;
#endif
  std::string routines;
  for (const auto& [on, name] :
       {std::pair{exp_vectorised(), "exp"}, std::pair{log_vectorised(), "log"},
        std::pair{hypot_vectorised(), "hypot"}}) {
    if (on) routines += (routines.empty() ? "" : ",") + std::string(name);
  }
  EXPECT_EQ(signature.substr(list + 3), routines.empty() ? "none" : routines);
  EXPECT_EQ(math_signature(), signature);
}

}  // namespace
}  // namespace tov::vmath
