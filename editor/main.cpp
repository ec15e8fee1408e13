#include <QApplication>

#include "editor/app/atlasdeskapp.h"

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    AtlasdeskApp atlasdesk;
    if (!atlasdesk.initInstance(QCoreApplication::arguments()))
        return 1;
    return app.exec();
}
