// Where the modules' history is kept: the dialog "Настройки истории" (the
// local SQLite file or a shared PostgreSQL server, with a trial connection)
// and the server's password, asked at most once per run.
#pragma once

#include <QDialog>
#include <memory>
#include <optional>

#include "HistoryStore.h"

class ProfileFile;

namespace Ui {
class THistorySettings;
}

// The target with the server's password for this run when the target asks
// for it: the first time a user on a server needs it, the password box asks
// (through the seam); the answer, or "Отмена", holds for the rest of the run
// and is never written anywhere. After "Отмена" the password stays empty:
// the server's password file, if any, is tried, else the history waits in
// the local queue.
History::Target WithRunPassword(QWidget* owner, History::Target target);
// Forgets the passwords of this run (for tests).
void ForgetRunPasswords();

class THistorySettings : public QDialog {
    Q_OBJECT
  public:
    // Shows `current` (a target as the settings file gives it); OK saves the
    // choice to `settings`.
    THistorySettings(QWidget* parent, const History::Target& current, ProfileFile settings);
    ~THistorySettings() override;

    // The choice as it stands in the dialog, without a password.
    History::Target target() const;

    // Tries the connection on a thread of its own; the result comes in the
    // dialog as a line of text, and checked() is emitted.
    void btCheckClick();
    QString checkText() const;
    // Saves the choice and closes the dialog; a server without its host,
    // database or user says so and stays.
    void btOKClick();

  signals:
    void checked();

  private:
    void showBackend();
    void checkDone(const QString& text);

    std::unique_ptr<Ui::THistorySettings> ui;
    std::unique_ptr<ProfileFile> settings_;
    History::Target current_;
    bool probing_ = false; // a trial of the connection is under way
};
