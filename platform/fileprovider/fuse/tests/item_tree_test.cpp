#include <set>

#include <gtest/gtest.h>

#include "platform/fileprovider/fuse/item_snapshot.h"
#include "platform/fileprovider/fuse/item_tree.h"

namespace ostrel::fileprovider {
namespace {

ItemPtr folder(const std::string& identifier, const std::string& parent, const std::string& name) {
  auto item = std::make_shared<ItemSnapshot>(ItemSnapshot::newItem(ItemIdentifier{parent}, name, true));
  item->identifier = ItemIdentifier{identifier};
  return item;
}

ItemPtr file(const std::string& identifier, const std::string& parent, const std::string& name) {
  auto item = std::make_shared<ItemSnapshot>(ItemSnapshot::newItem(ItemIdentifier{parent}, name, false));
  item->identifier = ItemIdentifier{identifier};
  return item;
}

const std::string root = rootContainerItemIdentifier.rawValue;

class ItemTreeTest : public ::testing::Test {
 protected:
  Node& node(const std::string& identifier) { return *tree.find(ItemIdentifier{identifier}); }
  std::map<std::string, std::string> namesIn(const std::string& container) {
    std::map<std::string, std::string> names;
    for (const auto& [name, inode] : node(container).children) names[name] = tree.find(inode)->identifier.rawValue;
    return names;
  }

  ItemTree tree{folder(root, root, "Drive")};
  std::vector<Invalidation> invalidations;
};

TEST_F(ItemTreeTest, AFolderIsNeverListedInsideItself) {
  tree.install(node(root), {folder("a", root, "A")}, invalidations);
  tree.install(node("a"), {folder("b", "a", "B")}, invalidations);

  // A listing that holds the container itself, or a folder above it.
  EXPECT_EQ(tree.install(node("b"), {folder("b", "a", "B"), folder("a", root, "A"), file("f", "b", "f.txt")},
                         invalidations),
            2u);
  EXPECT_EQ(namesIn("b"), (std::map<std::string, std::string>{{"f.txt", "f"}}));

  // Moving a folder under its own child is refused: it stays where it was.
  Node& a = tree.upsert(folder("a", "b", "A"));
  EXPECT_FALSE(tree.place(a, node("b"), invalidations));
  EXPECT_FALSE(tree.place(a, a, invalidations));
  EXPECT_EQ(a.parent, rootInode);
  EXPECT_EQ(namesIn(root), (std::map<std::string, std::string>{{"A", "a"}}));

  // And the whole subtree can still go.
  tree.dropListing(node(root), true, invalidations);
  EXPECT_TRUE(namesIn(root).empty());
  EXPECT_EQ(tree.find(ItemIdentifier{"b"}), nullptr);
}

TEST_F(ItemTreeTest, DroppingADeepTreeWalksEachFolderOnce) {
  std::string parent = root;
  for (int depth = 0; depth < 20000; ++depth) {
    const std::string identifier = "f" + std::to_string(depth);
    tree.install(node(parent), {folder(identifier, parent, "F")}, invalidations);
    parent = identifier;
  }
  tree.remember(node(parent));
  tree.dropListing(node(root), true, invalidations);
  EXPECT_TRUE(namesIn(root).empty());
  // Only what the kernel still holds stays.
  EXPECT_NE(tree.find(ItemIdentifier{parent}), nullptr);
  EXPECT_EQ(tree.find(ItemIdentifier{"f1"}), nullptr);
}

TEST_F(ItemTreeTest, EveryItemIsReachableUnderADistinctStableName) {
  const std::vector<ItemPtr> listing = {
      file("d1", root, "Same.txt"), file("d2", root, "Same.txt"),     file("d3", root, "Same.txt"),
      file("d4", root, "Same (2).txt"), file("n1", root, ".."),       file("n2", root, "."),
      file("n3", root, ""),             file("n4", root, "a/b"),      file("n5", root, "/etc/x"),
  };
  tree.install(node(root), listing, invalidations);
  const std::map<std::string, std::string> expected = {
      {"Same.txt", "d1"},  {"Same (2).txt", "d4"}, {"Same (3).txt", "d2"}, {"Same (4).txt", "d3"},
      {"_..", "n1"},       {"_.", "n2"},           {"_", "n3"},            {"a\u2215b", "n4"},
      {"\u2215etc\u2215x", "n5"},
  };
  EXPECT_EQ(namesIn(root), expected);

  // The same listing in another order gives the same names.
  tree.install(node(root), std::vector<ItemPtr>(listing.rbegin(), listing.rend()), invalidations);
  EXPECT_EQ(namesIn(root), expected);

  // One of them goes: the others keep the names they had.
  std::vector<ItemPtr> fewer(listing.begin() + 1, listing.end());
  tree.install(node(root), fewer, invalidations);
  auto names = namesIn(root);
  EXPECT_EQ(names.count("Same.txt"), 0u);
  EXPECT_EQ(names["Same (3).txt"], "d2");
  EXPECT_EQ(names["Same (4).txt"], "d3");

  // A rename at the service frees the name; a newcomer does not take one already shown.
  tree.install(node(root), {file("d2", root, "Other.txt"), file("d3", root, "Same.txt"), file("d5", root, "Same.txt")},
               invalidations);
  EXPECT_EQ(namesIn(root), (std::map<std::string, std::string>{
                               {"Other.txt", "d2"}, {"Same (4).txt", "d3"}, {"Same.txt", "d5"}}));
}

TEST_F(ItemTreeTest, AServiceItemMeetingALocalOneStepsAside) {
  Node& local = tree.addLocal(ItemIdentifier{"local:1"}, "Memo.txt", false);
  tree.attach(local, node(root), "Memo.txt", invalidations);
  tree.install(node(root), {file("m", root, "Memo.txt")}, invalidations);
  EXPECT_EQ(namesIn(root), (std::map<std::string, std::string>{{"Memo.txt", "local:1"}, {"Memo (2).txt", "m"}}));

  // The other way round: a local item placed on a service item's name moves it aside.
  tree.install(node(root), {file("m", root, "Memo.txt"), file("p", root, "Plan.txt")}, invalidations);
  Node& another = tree.addLocal(ItemIdentifier{"local:2"}, "Plan.txt", false);
  tree.attach(another, node(root), "Plan.txt", invalidations);
  auto names = namesIn(root);
  EXPECT_EQ(names["Plan.txt"], "local:2");
  EXPECT_EQ(names["Plan (2).txt"], "p");
}

}  // namespace
}  // namespace ostrel::fileprovider
