// The tree and position types the editor works with.
#pragma once

#include "project/project.h"

namespace atlasdesk {

using Tree = project::tree;
// A texture item (or any node) of a tree; stays valid until it is erased.
using Node = project::iterator;

} // namespace atlasdesk
