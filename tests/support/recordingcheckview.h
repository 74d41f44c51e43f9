#pragma once
// A CheckView that records what a check shows: status texts, progress
// messages, errors, the busy look and the window calls.

#include "app/checkcycle.h"

#include <QStringList>
#include <functional>

class RecordingCheckView : public CheckView
{
public:
    QStringList statusTexts;
    QStringList progressMessages;
    QStringList errors;
    QStringList progressTitles;
    bool progressShown = false;
    bool buttonsEnabled = true;
    QString exitCaption;
    bool busy = false;
    bool trayMenuEnabled = true;
    bool visible = true; // what isMainWindowVisible answers
    int closed = 0;
    int hiddenToTray = 0;
    int canceledIcons = 0;
    std::function<void()> onError;

    void setStatusText(const QString &text) override { statusTexts << text; }
    bool isMainWindowVisible() const override { return visible; }
    void showProgress(const QString &user, const QString &server) override
    {
        progressShown = true;
        progressTitles << user + QLatin1Char('@') + server;
    }
    void setProgressMessage(const QString &text) override { progressMessages << text; }
    void hideProgress() override { progressShown = false; }
    void disableAllButtons() override { buttonsEnabled = false; }
    void enableAllButtons() override { buttonsEnabled = true; }
    void setExitLook(const QString &caption, bool isBusy) override
    {
        exitCaption = caption;
        busy = isBusy;
    }
    void updateListPicture() override {}
    void setTrayMenuEnabled(bool enabled) override { trayMenuEnabled = enabled; }
    void showCanceledTrayIcon() override { ++canceledIcons; }
    void showError(const QString &text) override
    {
        errors << text;
        if (onError)
            onError();
    }
    void closeMainWindow() override { ++closed; }
    void hideToTray() override { ++hiddenToTray; }
};
