#include "common/path_ancestors.hpp"

#include <gtest/gtest.h>

namespace mirel {
namespace {

using Ancestors = std::vector<std::string>;

TEST(PathAncestors, RunFromTheRootDownToTheFilesDirectory) {
    EXPECT_EQ(path_ancestors(R"(C:\Temp\MirelSetup-1-2-0\en.msi)"),
              (Ancestors{R"(C:\)", R"(C:\Temp)", R"(C:\Temp\MirelSetup-1-2-0)"}));
    EXPECT_EQ(path_ancestors(R"(c:/a/b.msi)"), (Ancestors{"c:/", "c:/a"}));
    EXPECT_EQ(path_ancestors(R"(C:\en.msi)"), (Ancestors{R"(C:\)"}));
}

TEST(PathAncestors, KeepTheWholeRootOfUncAndDevicePaths) {
    EXPECT_EQ(path_ancestors(R"(\\server\share\d\en.msi)"), (Ancestors{R"(\\server\share\)", R"(\\server\share\d)"}));
    EXPECT_EQ(path_ancestors(R"(\\?\C:\d\en.msi)"), (Ancestors{R"(\\?\C:\)", R"(\\?\C:\d)"}));
    EXPECT_EQ(path_ancestors(R"(\\?\UNC\server\share\en.msi)"), (Ancestors{R"(\\?\UNC\server\share\)"}));
    EXPECT_EQ(path_ancestors(R"(\\?\Volume{1234}\d\en.msi)"),
              (Ancestors{R"(\\?\Volume{1234}\)", R"(\\?\Volume{1234}\d)"}));
}

TEST(PathAncestors, RefuseRelativePaths) {
    for (const char* path : {"en.msi", R"(d\en.msi)", R"(C:en.msi)", R"(\d\en.msi)", "", R"(\\server)"})
        EXPECT_FALSE(path_ancestors(path).has_value()) << path;
}

TEST(PathAncestors, RefuseARootWithoutAParent) {
    for (const char* path : {R"(C:\)", R"(\\server\share\)", R"(\\?\C:\)", R"(\\server\share)"})
        EXPECT_FALSE(path_ancestors(path).has_value()) << path;
}

TEST(PathAncestors, RefuseComponentsThatWouldMoveThePath) {
    // Lexical resolution would open other directories than the ones the file lives in.
    for (const char* path : {R"(C:\a\..\en.msi)", R"(C:\a\.\en.msi)", R"(C:\a\\en.msi)", R"(C:\a\)"})
        EXPECT_FALSE(path_ancestors(path).has_value()) << path;
}

}  // namespace
}  // namespace mirel
