// XML of the engine's common library: the item a tree node carries, and the
// two functions that turn text into a tree and back.  The text form is
// described in docs/project-xml.md.
#pragma once

#include <string>

#include "xmltree/xmltree.h"

// One node's payload: `first` is the item's name, `second` its value.
struct xmlitem {
    std::string first;
    std::string second;

    xmlitem() = default;
    // A null value gives an empty value.
    xmlitem(const std::string& name, const char* value) : first(name), second(value ? value : "") {}
    xmlitem(const xmlitem&) = default;
    xmlitem& operator=(const xmlitem&) = default;
    ~xmlitem() = default;

    friend bool operator==(const xmlitem&, const xmlitem&) = default;
};

using xmlitem_tree = xmltree::tree<xmlitem>;

// Parses `length` bytes of XML (no terminating NUL needed) and appends its
// top-level elements to `tree`, in document order.  Several top-level
// elements are accepted (clipboard text has no single root).  Throws
// std::runtime_error on text that is not well-formed, holds no element,
// holds a DOCTYPE (no DTD, no entity of our own, nothing is ever fetched),
// or names an encoding it cannot convert.  Texts in another declared
// encoding (e.g. windows-1251) are converted to UTF-8.
void xmlparse(const char* text, long length, xmlitem_tree& tree);

// Appends the XML text of `tree` (UTF-8, with a declaration) to `out`.  For
// every tree with at least one top-level node, xmlparse of the text gives
// the same names, values, nesting and order back, whatever bytes the names
// and values hold.
void xmlsave(std::string& out, const xmlitem_tree& tree);
