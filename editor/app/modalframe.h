// The frame of the editor's modal dialogs and message boxes: a title bar
// with the system menu and its close button, no minimise or maximise
// button, and a size fixed by the contents.
#pragma once

class QDialog;

void useModalFrame(QDialog& dialog);
