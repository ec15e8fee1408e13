// Scripted answers for everything the editor would ask a user.
#pragma once

#include <QByteArray>
#include <QStringList>
#include <deque>
#include <initializer_list>
#include <utility>
#include <vector>

#include "editor/core/uiservices.h"

class FakeUi : public atlasdesk::UiServices {
public:
    std::deque<Answer> answers;         // for ask(), in order; Cancel when empty
    QStringList questions;              // every text ask() was given
    QStringList warnings;               // every text warn() was given
    std::deque<QString> saveNames;      // results of saveFileName(); "" = Cancel
    QStringList saveTitles, saveFilters, saveInitial;
    std::deque<QStringList> openNames;  // results of openFileNames()
    QString clipboard;
    QStringList builds;                 // "program|arg|arg..." per runBuild()
    QStringList opened;                 // paths given to openWithDesktop()
    int busy = 0;
    int maxBusy = 0;

    Answer ask(const QString& text) override
    {
        questions << text;
        if (answers.empty())
            return Answer::Cancel;
        const Answer a = answers.front();
        answers.pop_front();
        return a;
    }
    void warn(const QString& text) override { warnings << text; }
    QString saveFileName(const QString& title, const QString& filter, const QString& initialPath) override
    {
        saveTitles << title;
        saveFilters << filter;
        saveInitial << initialPath;
        if (saveNames.empty())
            return {};
        const QString n = saveNames.front();
        saveNames.pop_front();
        return n;
    }
    QStringList openFileNames(const QString&, const QString&, bool) override
    {
        if (openNames.empty())
            return {};
        const QStringList n = openNames.front();
        openNames.pop_front();
        return n;
    }
    QString clipboardText() override { return clipboard; }
    void setClipboardText(const QString& text) override { clipboard = text; }
    void runBuild(const QString& program, const QStringList& arguments) override
    {
        builds << (QStringList{program} + arguments).join(QLatin1Char('|'));
    }
    void openWithDesktop(const QString& path) override { opened << path; }
    void setBusy(bool on) override
    {
        busy += on ? 1 : -1;
        maxBusy = std::max(maxBusy, busy);
    }
};

// Sets environment variables for the life of the object.
struct Env {
    std::vector<QByteArray> names;
    Env(std::initializer_list<std::pair<const char*, QByteArray>> vars)
    {
        for (const auto& [n, v] : vars) {
            qputenv(n, v);
            names.emplace_back(n);
        }
    }
    ~Env()
    {
        for (const auto& n : names)
            qunsetenv(n.constData());
    }
};
