#include "xmltree/xmltree.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// A payload that counts its live copies, so leaks and double frees show.
struct Item {
    static inline int live = 0;
    std::string first;
    std::string second;
    Item(std::string n, std::string v = "") : first(std::move(n)), second(std::move(v)) { ++live; }
    Item(const Item& o) : first(o.first), second(o.second) { ++live; }
    ~Item() { --live; }
};

using Tree = xmltree::tree<Item>;

// "a(b c(d))" style picture of a tree, for comparing shapes.
std::string shape(Tree::const_iterator begin, Tree::const_iterator end)
{
    std::string s;
    for (auto it = begin; it != end; ++it) {
        if (!s.empty())
            s += ' ';
        s += it->first;
        if (it.has_children())
            s += "(" + shape(it.child_begin(), it.child_end()) + ")";
    }
    return s;
}
std::string shape(const Tree& t)
{
    return shape(t.begin(), t.end());
}

class TreeTest : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(Item::live, 0); }
};

TEST_F(TreeTest, LayoutMatchesTheSharedNodeStructure)
{
    static_assert(sizeof(Tree) == sizeof(xmltree::link));
    Tree t;
    EXPECT_EQ(t.head()->kind, 2);
    Tree::iterator n = t.push_back(Item("x"));
    xmltree::link* sibling = n.raw();
    EXPECT_EQ(sibling->kind, 0);
    xmltree::link* children = sibling + 1;
    EXPECT_EQ(children->kind, 1);
    EXPECT_EQ(children->next, children);
    EXPECT_EQ(children->prev, children);
    EXPECT_EQ(n.child_end().raw(), children);
    EXPECT_EQ(sibling->next, t.head());
    EXPECT_EQ(t.head()->next, sibling);
}

TEST_F(TreeTest, EmptyTreeHasNoFirstNodeAndNoChildrenToWalk)
{
    Tree t;
    EXPECT_TRUE(t.empty());
    EXPECT_EQ(t.begin(), t.end());
    EXPECT_FALSE(t.begin().is_node());
    int visited = 0;
    for (auto it = t.begin().child_begin(); it != t.begin().child_end(); ++it)
        ++visited;
    EXPECT_EQ(visited, 0);
    EXPECT_EQ(Tree::find_child(t.begin(), "x"), t.end());
}

TEST_F(TreeTest, ChildrenKeepInsertionOrderAndInsertBeforeWorks)
{
    Tree t;
    auto root = t.push_back(Item("root"));
    t.append_child(root, Item("a"));
    auto c = t.append_child(root, Item("c"));
    t.insert(c, Item("b"));
    t.insert(root.child_begin(), Item("first"));
    EXPECT_EQ(shape(t), "root(first a b c)");
    // Walking backwards gives the reverse order.
    std::string back;
    for (auto it = root.child_end(); it != root.child_begin();)
        back += (--it)->first;
    EXPECT_EQ(back, "cbafirst");
}

TEST_F(TreeTest, FindChildIsExactAndCaseSensitive)
{
    Tree t;
    auto root = t.push_back(Item("root"));
    t.append_child(root, Item("Name", "upper"));
    auto lower = t.append_child(root, Item("name", "lower"));
    t.append_child(root, Item("name", "second"));
    EXPECT_EQ(Tree::find_child(root, "name"), lower);
    EXPECT_EQ(Tree::find_child(root, std::string("name"))->second, "lower");
    EXPECT_EQ(Tree::find_child(root, "NAME"), root.child_end());
    EXPECT_EQ(Tree::find_child(root, "nam"), root.child_end());
    const Tree& ct = t;
    EXPECT_EQ(Tree::find_child(ct.begin(), "Name")->second, "upper");
}

TEST_F(TreeTest, EraseReturnsTheNextSiblingAndRelinksTheRest)
{
    Tree t;
    auto root = t.push_back(Item("root"));
    t.append_child(root, Item("a"));
    auto b = t.append_child(root, Item("b"));
    t.append_child(b, Item("b1"));
    auto c = t.append_child(root, Item("c"));
    EXPECT_EQ(t.erase(b), c);
    EXPECT_EQ(shape(t), "root(a c)");
    EXPECT_EQ(t.erase(c), root.child_end());
    EXPECT_EQ(shape(t), "root(a)");
    EXPECT_EQ(root.child_begin()->first, "a");
    EXPECT_EQ(root.child_begin().raw()->next, root.child_end().raw());
    EXPECT_EQ(root.child_end().raw()->prev, root.child_begin().raw());
}

TEST_F(TreeTest, ErasingADeepSubtreeFreesEveryNodeOnce)
{
    Tree t;
    auto root = t.push_back(Item("root"));
    auto before = t.append_child(root, Item("before"));
    auto deep = t.append_child(root, Item("deep"));
    auto after = t.append_child(root, Item("after"));
    // A long chain (deeper than a recursive walk could go) with bushes.
    auto at = deep;
    for (int i = 0; i < 200000; ++i) {
        at = t.append_child(at, Item("level"));
        if (i % 1000 == 0)
            for (int j = 0; j < 5; ++j)
                t.append_child(t.append_child(at, Item("leaf")), Item("leafchild"));
    }
    const int live_with_subtree = Item::live;
    EXPECT_EQ(live_with_subtree, 4 + 200000 + 200 * 10);
    EXPECT_EQ(t.erase(deep), after);
    EXPECT_EQ(Item::live, 3);
    EXPECT_EQ(shape(t), "root(before after)");
    EXPECT_EQ(before.raw()->next, after.raw());
    EXPECT_EQ(after.raw()->prev, before.raw());
}

TEST_F(TreeTest, ErasingAListEndThrows)
{
    Tree t;
    auto root = t.push_back(Item("root"));
    try {
        t.erase(t.end());
        FAIL();
    } catch (const char* text) {
        EXPECT_STREQ(text, "Нельзя удалить такой элемент");
    }
    EXPECT_THROW(t.erase(root.child_end()), const char*);
    EXPECT_EQ(shape(t), "root");
}

TEST_F(TreeTest, DamagedSubtreeIsReported)
{
    Tree t;
    auto root = t.push_back(Item("root"));
    auto child = t.append_child(root, Item("child"));
    xmltree::link* l = child.raw();
    // A child link that points at itself cannot be unlinked.
    xmltree::link* saved_next = l->next;
    l->next = l;
    try {
        t.erase(root);
        FAIL();
    } catch (const char* text) {
        EXPECT_STREQ(text, "Ошибка при удалении");
    }
    l->next = saved_next;
    t.clear();
}

TEST_F(TreeTest, InsertCopyCopiesTheWholeSubtreeFromAnotherTree)
{
    Tree src;
    auto a = src.push_back(Item("a", "va"));
    auto b = src.append_child(a, Item("b", "vb"));
    src.append_child(b, Item("c"));
    src.append_child(a, Item("d"));
    Tree dst;
    auto r = dst.push_back(Item("r"));
    dst.append_child(r, Item("z"));
    auto copy = dst.insert_copy(r.child_begin(), a);
    EXPECT_EQ(shape(dst), "r(a(b(c) d) z)");
    EXPECT_EQ(copy->second, "va");
    // The copy is independent of the source.
    src.clear();
    EXPECT_EQ(shape(dst), "r(a(b(c) d) z)");
    EXPECT_EQ(Tree::find_child(copy, "b")->second, "vb");
}

TEST_F(TreeTest, InsertCopyOfAnAncestorUnderItselfTerminates)
{
    Tree t;
    auto a = t.push_back(Item("a"));
    auto b = t.append_child(a, Item("b"));
    t.append_child(b, Item("c"));
    t.insert_copy(b.child_end(), a);
    EXPECT_EQ(shape(t), "a(b(c a(b(c))))");
}

TEST_F(TreeTest, AssignCopyAndMove)
{
    Tree a;
    auto x = a.push_back(Item("x"));
    a.append_child(x, Item("x1"));
    a.push_back(Item("y"));
    Tree b;
    b.push_back(Item("old"));
    b.assign(a);
    EXPECT_EQ(shape(b), "x(x1) y");
    b.assign(b);
    EXPECT_EQ(shape(b), "x(x1) y");
    Tree c(a);
    EXPECT_EQ(shape(c), "x(x1) y");
    Tree d(std::move(c));
    EXPECT_TRUE(c.empty());
    EXPECT_EQ(shape(d), "x(x1) y");
    EXPECT_EQ(d.begin().raw()->prev, d.head());
    Tree e;
    e = std::move(d);
    EXPECT_EQ(shape(e), "x(x1) y");
    e.push_back(Item("w"));
    EXPECT_EQ(shape(e), "x(x1) y w");
    e = a;
    EXPECT_EQ(shape(e), "x(x1) y");
    e.clear();
    EXPECT_TRUE(e.empty());
}

} // namespace
