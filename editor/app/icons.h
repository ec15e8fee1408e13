// Toolbar pictures and the program icon, drawn at start-up so that the
// program carries no image files.
#pragma once

#include <QIcon>

enum class ToolIcon { New, Open, Save, Cut, Copy, Paste, Print, About };

// A 16 by 15 toolbar picture.
QIcon toolIcon(ToolIcon which);

// The program icon (a stack of mip levels), in 16 and 32 pixel sizes.
QIcon programIcon();
