// A stand-in for the seam: records every box that would be shown, answers
// questions and input boxes from queues and skips pauses (only recording them;
// a pause that lets the events go on ends at the next turn of the event loop).
#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <functional>

#include "Seam.h"

struct ShownMessage {
    QWidget* owner = nullptr;
    QString text;
    QString caption;
    seam::Icon icon = seam::Icon::None;
};

class RecorderUi final : public seam::Ui {
  public:
    RecorderUi() { previous_ = seam::install(this); }
    ~RecorderUi() override { seam::install(previous_); }

    void message(QWidget* owner, const QString& text, const QString& caption,
                 seam::Icon icon) override {
        messages.append({owner, text, caption, icon});
        if (onMessage)
            onMessage(messages.last());
    }
    bool ask(QWidget* owner, const QString& text, const QString& caption,
             seam::Icon icon) override {
        questions.append({owner, text, caption, icon});
        if (onQuestion)
            onQuestion(questions.last());
        return !replies.isEmpty() && replies.takeFirst();
    }
    QString input(QWidget*, const QString& caption, const QString& prompt,
                  const QString& value) override {
        inputs.append(caption + QLatin1Char('|') + prompt);
        if (answers.isEmpty())
            return value; // as if Cancel was pressed
        return answers.takeFirst();
    }
    std::optional<QString> password(QWidget*, const QString& caption,
                                    const QString& prompt) override {
        passwordBoxes.append(caption + QLatin1Char('|') + prompt);
        if (passwords.isEmpty())
            return std::nullopt; // as if "Отмена" was pressed
        return passwords.takeFirst();
    }
    void pause(int milliseconds) override {
        pauses.append(milliseconds);
        if (onPause)
            onPause(milliseconds);
    }
    void wait(QObject* context, int milliseconds, std::function<void()> then) override {
        pause(milliseconds);
        QTimer::singleShot(0, context, std::move(then));
    }

    // Texts of the messages shown so far.
    QStringList texts() const {
        QStringList t;
        for (const auto& m : messages)
            t << m.text;
        return t;
    }
    void clear() {
        messages.clear();
        questions.clear();
        inputs.clear();
        passwordBoxes.clear();
        pauses.clear();
    }

    QList<ShownMessage> messages;
    QList<ShownMessage> questions; // the yes/no questions, apart from the messages
    QList<bool> replies;           // what the next questions answer ("Да" = true); then "Нет"
    std::function<void(const ShownMessage&)> onQuestion;
    QStringList inputs;        // "caption|prompt" of each input box
    QStringList answers;       // what the next input boxes answer (OK with this text)
    QStringList passwordBoxes; // "caption|prompt" of each password box
    QStringList passwords;     // what the next password boxes answer; then "Отмена"
    QList<int> pauses;
    std::function<void(const ShownMessage&)> onMessage;
    std::function<void(int)> onPause; // e.g. to change the simulated signal during a pause

  private:
    seam::Ui* previous_ = nullptr;
};
