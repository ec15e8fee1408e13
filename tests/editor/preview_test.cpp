// The preview window: the -single run behind it and what it shows.
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "converter.h"
#include "fakeui.h"
#include "filedlg.h"
#include "previewwindow.h"

using namespace atlasdesk;

TEST(PreviewWindow, RunsTheConverterAndShowsTheLevels)
{
    QTemporaryDir dir;
    const QString argsFile = dir.filePath("args.txt");
    Env env{{"ATLASDESK_CONVERTER", FAKE_CONVERTER_EXE}, {"FAKE_CONVERTER_ARGS", argsFile.toLocal8Bit()}};
    FakeUi ui;
    PropertyList t = {{"filename", "/t/n.png"}, {"d3dformat", "D3DFMT_DXT1"}, {"miplevels", "3"}};
    CFileDlg dlg(t, ui);
    PreviewWindow* window = dlg.previewConversion();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->shownLevels(), 3);
    EXPECT_EQ(window->summary(), QStringLiteral("A8R8G8B8, 4 x 4, 3 levels"));
    QFile f(argsFile);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromLocal8Bit(f.readAll()).split('\n', Qt::SkipEmptyParts),
              QStringList({"-single", "/t/n.png", "D3DFMT_DXT1", "3", previewFilePath()}));
}
