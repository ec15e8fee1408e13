#include "editor/app/modalframe.h"

#include <QDialog>
#include <QLayout>

void useModalFrame(QDialog& dialog)
{
    dialog.setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint);
    dialog.setSizeGripEnabled(false);
    // The window manager learns the fixed size from equal minimum and
    // maximum sizes, which the layout keeps at its size hint.
    if (QLayout* layout = dialog.layout())
        layout->setSizeConstraint(QLayout::SetFixedSize);
}
