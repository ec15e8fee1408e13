// An ordered tree of items: each node carries one payload and an ordered
// list of children.  Parsed XML documents and projects are held in it.
//
// Layout, shared by every piece of code that creates or frees nodes: lists
// are circular and doubly linked through link records, each list with a head
// link as its sentinel.  A node is its sibling link (kind 0), the head of its
// child list (kind 1) and its payload, in that order; a tree object is a
// single head link of kind 2.  The node of a link lies `kind` link records
// before it.
#pragma once

#include <cstddef>
#include <iterator>
#include <type_traits>
#include <utility>
#include <vector>

namespace xmltree {

struct link {
    link* next;
    link* prev;
    unsigned char kind;
};

namespace detail {

struct node_links {
    link sibling;
    link children;
};
static_assert(std::is_standard_layout_v<node_links>);
static_assert(offsetof(node_links, children) == sizeof(link));

template <class T>
struct node : node_links {
    T payload;
    explicit node(const T& item) : node_links{{nullptr, nullptr, 0}, {nullptr, nullptr, 1}}, payload(item)
    {
        children.next = children.prev = &children;
    }
};

// The node a link belongs to; only for links of kind 0 or 1.
inline node_links* links_of(link* l)
{
    return reinterpret_cast<node_links*>(reinterpret_cast<char*>(l) - l->kind * sizeof(link));
}

inline void link_before(link* l, link* before)
{
    l->next = before;
    l->prev = before->prev;
    before->prev->next = l;
    before->prev = l;
}

// Fails on a link that is alone in its list (a head of an empty list).  The
// link's own pointers are left as they were.
inline bool unlink(link* l)
{
    if (l->next == l || l->prev == l)
        return false;
    l->next->prev = l->prev;
    l->prev->next = l->next;
    return true;
}

} // namespace detail

// The tree.  Copying copies every node; moving takes them over.  Positions
// stay valid until their node is erased.  Not thread-safe.
//
// erase() throws C strings (UTF-8): "Нельзя удалить такой элемент" for a
// position that is no node, "Ошибка при удалении" for a damaged subtree.
template <class T>
class tree {
    using node = detail::node<T>;

public:
    using value_type = T;

    // A position: a node (its sibling link) or the end of a list (its head).
    template <bool Const>
    class basic_iterator {
    public:
        using iterator_category = std::bidirectional_iterator_tag;
        using value_type = T;
        using difference_type = std::ptrdiff_t;
        using pointer = std::conditional_t<Const, const T*, T*>;
        using reference = std::conditional_t<Const, const T&, T&>;

        basic_iterator() = default;
        explicit basic_iterator(link* l) : link_(l) {}
        // A mutable position converts to a read-only one.
        template <bool C = Const, class = std::enable_if_t<C>>
        basic_iterator(const basic_iterator<false>& other) : link_(other.raw())
        {
        }

        // The payload; only on a node position.
        reference operator*() const { return static_cast<node*>(detail::links_of(link_))->payload; }
        pointer operator->() const { return &**this; }
        basic_iterator& operator++()
        {
            link_ = link_->next;
            return *this;
        }
        basic_iterator operator++(int)
        {
            basic_iterator was = *this;
            link_ = link_->next;
            return was;
        }
        basic_iterator& operator--()
        {
            link_ = link_->prev;
            return *this;
        }
        basic_iterator operator--(int)
        {
            basic_iterator was = *this;
            link_ = link_->prev;
            return was;
        }
        friend bool operator==(const basic_iterator& a, const basic_iterator& b) { return a.link_ == b.link_; }

        // The children of a node; an empty range on an end position.
        basic_iterator child_begin() const { return basic_iterator(is_node() ? child_head()->next : link_); }
        basic_iterator child_end() const { return basic_iterator(is_node() ? child_head() : link_); }
        bool has_children() const { return is_node() && child_head()->next != child_head(); }
        // True on a node, false on the end of a list.
        bool is_node() const { return link_->kind == 0; }
        link* raw() const { return link_; }

    private:
        link* child_head() const { return &detail::links_of(link_)->children; }
        link* link_ = nullptr;
    };
    using iterator = basic_iterator<false>;
    using const_iterator = basic_iterator<true>;

    tree() : head_{&head_, &head_, 2} {}
    ~tree() { clear(); }
    tree(const tree& other) : tree() { assign(other); }
    tree& operator=(const tree& other)
    {
        assign(other);
        return *this;
    }
    tree(tree&& other) noexcept : tree() { take(other); }
    tree& operator=(tree&& other) noexcept
    {
        if (this != &other) {
            clear();
            take(other);
        }
        return *this;
    }

    // The top-level list: begin() is the first top-level node (the document
    // element of a parsed document), end() the tree's head.
    iterator begin() { return iterator(head_.next); }
    iterator end() { return iterator(&head_); }
    const_iterator begin() const { return const_iterator(head_.next); }
    const_iterator end() const { return const_iterator(const_cast<link*>(&head_)); }
    bool empty() const { return head_.next == &head_; }

    // A new node holding a copy of `item`, before `pos`; inserting before an
    // end position appends to that list.  Returns the new node.
    iterator insert(iterator pos, const T& item)
    {
        node* n = new node(item);
        detail::link_before(&n->sibling, pos.raw());
        return iterator(&n->sibling);
    }
    // Appends `item` as the last child of `parent`.
    iterator append_child(iterator parent, const T& item) { return insert(parent.child_end(), item); }
    // Appends `item` as the last top-level node.
    iterator push_back(const T& item) { return insert(end(), item); }

    // Inserts before `pos` a copy of the node `source` with all its
    // descendants, same nesting and order.  `source` may belong to any tree,
    // this one included (even an ancestor of `pos`).  Returns the copy.
    iterator insert_copy(iterator pos, const_iterator source)
    {
        node* top = new node(*source);
        try {
            // Built detached, so the walk never meets the copy itself.
            std::vector<std::pair<link*, link*>> todo; // next source, target head
            todo.emplace_back(source.child_begin().raw(), &top->children);
            while (!todo.empty()) {
                auto [from, into] = todo.back();
                if (from->kind != 0) {
                    todo.pop_back();
                    continue;
                }
                todo.back().first = from->next;
                node* copy = new node(static_cast<node*>(detail::links_of(from))->payload);
                detail::link_before(&copy->sibling, into);
                todo.emplace_back(detail::links_of(from)->children.next, &copy->children);
            }
        } catch (...) {
            free_detached(top);
            throw;
        }
        detail::link_before(&top->sibling, pos.raw());
        return iterator(&top->sibling);
    }

    // Removes the node at `pos` with all its descendants and returns the
    // position after it.  Throws on an end position.
    iterator erase(iterator pos) { return iterator(erase_link(pos.raw())); }

    // Removes every node.
    void clear()
    {
        while (!empty())
            erase(begin());
    }

    // Makes this tree a copy of `other`.
    void assign(const tree& other)
    {
        if (this == &other)
            return;
        clear();
        for (const_iterator it = other.begin(); it != other.end(); ++it)
            insert_copy(end(), it);
    }

    // The first child of `pos` whose name (the payload's `first`) equals
    // `name` exactly, or the end of its children.
    template <class Name>
    static iterator find_child(iterator pos, const Name& name)
    {
        return find_in(pos, name);
    }
    template <class Name>
    static const_iterator find_child(const_iterator pos, const Name& name)
    {
        return find_in(pos, name);
    }

    // The head link, for code that walks the raw layout.
    link* head() { return &head_; }

private:
    template <class It, class Name>
    static It find_in(It pos, const Name& name)
    {
        for (It it = pos.child_begin(); it != pos.child_end(); ++it)
            if (it->first == name)
                return it;
        return pos.child_end();
    }

    // Descends through first children to a node without children.
    static link* deepest_first(link* l)
    {
        for (detail::node_links* n = detail::links_of(l); n->children.next != &n->children; n = detail::links_of(l))
            l = n->children.next;
        return l;
    }

    static link* erase_link(link* target)
    {
        if (target->kind != 0)
            throw "Нельзя удалить такой элемент";
        link* after = target->next;
        // Children go before their parents; no recursion, so any depth works.
        link* cur = deepest_first(target);
        while (cur != target) {
            detail::node_links* n = detail::links_of(cur);
            if (n->children.next != &n->children)
                throw "Ошибка при удалении";
            link* next = cur->next;
            if (!detail::unlink(cur))
                throw "Ошибка при удалении";
            delete static_cast<node*>(n);
            cur = next->kind == 0 ? deepest_first(next) : &detail::links_of(next)->sibling;
        }
        if (detail::unlink(target))
            delete static_cast<node*>(detail::links_of(target));
        return after;
    }

    // Frees a node that is in no list, with everything under it.
    static void free_detached(node* top)
    {
        link scratch{&scratch, &scratch, 2};
        detail::link_before(&top->sibling, &scratch);
        erase_link(&top->sibling);
    }

    void take(tree& other)
    {
        if (other.empty())
            return;
        head_.next = other.head_.next;
        head_.prev = other.head_.prev;
        head_.next->prev = &head_;
        head_.prev->next = &head_;
        other.head_.next = other.head_.prev = &other.head_;
    }

    link head_;
};

} // namespace xmltree
