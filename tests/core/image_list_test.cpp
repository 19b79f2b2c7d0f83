// The batch image list: paths made absolute without changing which file they
// name, folders searched for JPEG files without following linked folders, and
// duplicates dropped by text and by file identity.
#include "core/image_list.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "tests/support/scoped_temp.h"

using Paths = std::vector<std::string>;

TEST(ImageListTest, TextOnlyPathsAreMadeAbsoluteAndUnique) {
  // None of these exist, so only their texts can tell them apart; the order
  // rules themselves are tested with the main window's list.
  Paths list;
  AddToImageList(list, {"b.jpg", "a.jpg", "./a.jpg", "/x//y/./c.jpg", "/x/y/c.jpg", ""}, "/cwd");
  EXPECT_EQ(list, (Paths{"/cwd/a.jpg", "/cwd/b.jpg", "/x/y/c.jpg"}));
}

class ImageListFilesTest : public ::testing::Test {
 protected:
  ScopedTempFolder temp;
  std::string Make(const std::string& name) {
    EXPECT_TRUE(EnsureFolder(ParentFolder(temp.Join(name))));
    EXPECT_TRUE(WriteTextFile(temp.Join(name), name));
    return temp.Join(name);
  }
  void Link(const std::string& target, const std::string& name) {
    ASSERT_EQ(::symlink(target.c_str(), temp.Join(name).c_str()), 0);
  }
};

TEST_F(ImageListFilesTest, ParentStepsAreResolvedOnlyWhereTheyNameTheSameFileWhichCountsOnce) {
  const std::string a = Make("a.jpg"), other = Make("b.jpg");
  Make("fern/tief/x.jpg");
  Make("fern/x.jpg");
  ASSERT_TRUE(EnsureFolder(temp.Join("sub")));
  Link(temp.Join("fern/tief"), "link");
  EXPECT_EQ(AbsoluteImagePath("sub/../a.jpg", temp.path), a);
  EXPECT_EQ(AbsoluteImagePath("./sub//", temp.path), temp.Join("sub"));
  // link/.. is fern, not the folder that holds the link: the text keeps it,
  // and the file it names is fern/x.jpg.
  EXPECT_EQ(AbsoluteImagePath("link/./../x.jpg", temp.path), temp.Join("link/../x.jpg"));
  EXPECT_EQ(ReadTextFile(AbsoluteImagePath("link/../x.jpg", temp.path)), "fern/x.jpg");
  // Nothing to compare with: the text stays as given.
  EXPECT_EQ(AbsoluteImagePath("fehlt/../a.jpg", temp.path), temp.Join("fehlt/../a.jpg"));
  // One file named several ways counts once: the first in list order stays;
  // a missing file has no identity to share.
  ASSERT_EQ(::link(a.c_str(), temp.Join("hart.jpg").c_str()), 0);
  Link(a, "verweis.jpg");
  Paths list{a};
  AddToImageList(list, {"verweis.jpg", "hart.jpg", "sub/../a.jpg", "b.jpg", "fehlt.jpg"}, temp.path);
  EXPECT_EQ(list, (Paths{a, other, temp.Join("fehlt.jpg")}));
}

TEST_F(ImageListFilesTest, FoldersAreSearchedForJpegFilesWithoutFollowingLinkedFolders) {
  const Paths expected = {Make("bilder/A.JPEG"), Make("bilder/b.jpg"), Make("bilder/unter/tiefer/d.jpe"),
                          temp.Join("bilder/verweis.jpg"), temp.Join("leer-gibt-es-nicht")};
  for (const char* name : {"bilder/notiz.txt", "bilder/c.png", "bilder/x.jpg.bak", "fremd/f.jpg", "fremd/g.jpg"}) {
    Make(name);
  }
  Link(temp.Join("fremd"), "bilder/fremd-ordner");
  Link(temp.Join("fremd/f.jpg"), "bilder/verweis.jpg");
  Link(temp.Join("bilder"), "bilder/unter/schleife");
  Paths list;
  AddToImageList(list, {temp.Join("bilder"), "bilder/unter", temp.Join("leer-gibt-es-nicht")}, temp.path);
  EXPECT_EQ(list, expected);
  // A linked folder named by the user is searched; its linked files count once.
  list.clear();
  AddToImageList(list, {"bilder/fremd-ordner", "fremd"}, temp.path);
  EXPECT_EQ(list, (Paths{temp.Join("bilder/fremd-ordner/f.jpg"), temp.Join("bilder/fremd-ordner/g.jpg")}));
}
