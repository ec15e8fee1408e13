#include "editor/app/lockstate.h"

#include <QGuiApplication>

#if defined(ATLASDESK_HAVE_X11) && QT_CONFIG(xcb)
#include <X11/XKBlib.h>
#endif

std::optional<LockStates> readLockStates()
{
#if defined(ATLASDESK_HAVE_X11) && QT_CONFIG(xcb)
    const auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    Display* display = x11 ? x11->display() : nullptr;
    if (!display)
        return std::nullopt;
    // The indicators by name: their numbers differ between keymaps.
    const auto lit = [display](const char* name) {
        Bool on = False;
        const Atom atom = XInternAtom(display, name, True);
        return atom != None && XkbGetNamedIndicator(display, atom, nullptr, &on, nullptr, nullptr) && on;
    };
    return LockStates{lit("Caps Lock"), lit("Num Lock"), lit("Scroll Lock")};
#else
    return std::nullopt;
#endif
}
