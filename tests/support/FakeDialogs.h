#pragma once
// Operator dialogs for tests: messages are recorded, and each open-file
// dialog answers the next scripted choice (a path, or nothing for cancel).

#include "Seams.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

class FakeDialogs final : public OperatorDialogs {
public:
    struct Message {
        QString text;
        Icon icon;
    };
    struct OpenFileCall {
        QString title;
        QString filter;
        QString initialFileName;
    };

    QList<Message> messages;
    QList<OpenFileCall> openFileCalls;
    // One answer per opening, in order; an empty text cancels, as does running out.
    QStringList openFileAnswers;
    // Runs while the "box" is open, as the event loop would run under a real one.
    std::function<void(const QString&)> onMessage;

    void message(QWidget*, const QString& text, Icon icon) override
    {
        messages.append({text, icon});
        if (onMessage)
            onMessage(text);
    }

    // One answer per question, in order; No when they run out.
    QList<bool> questionAnswers;
    QStringList questions;
    bool question(QWidget*, const QString& text) override
    {
        questions.append(text);
        return !questionAnswers.isEmpty() && questionAnswers.takeFirst();
    }

    std::optional<QString> openFile(QWidget*, const QString& title, const QString& filter,
                                    const QString& initialFileName) override
    {
        openFileCalls.append({title, filter, initialFileName});
        const QString answer = openFileAnswers.isEmpty() ? QString() : openFileAnswers.takeFirst();
        if (answer.isEmpty())
            return std::nullopt;
        return answer;
    }
};
