#pragma once
// Answers the window's modal dialogs (file dialogs, message boxes) from a timer started before
// they open, and records what each one showed.
#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include <deque>
#include <functional>

struct DialogSeen {
    QString title;
    QString text;            // message boxes
    QString proposed;        // file dialogs: the selected file when the dialog opened
    QString folder;          // file dialogs: the folder it opened in
    QStringList filters;
    int buttons = 0;         // message boxes
    int defaultButton = 0;
};

// Answers the modal dialogs that open while it lives, one step per dialog and in order, from a
// 10 ms timer started before they open. A dialog that no script has a step for is rejected
// after a second.
class ModalScript {
public:
    using Step = std::function<void(QWidget*)>;

    ModalScript()
    {
        m_Timer.setInterval(10);
        QObject::connect(&m_Timer, &QTimer::timeout, [this] { Tick(); });
        m_Timer.start();
    }
    ModalScript& Then(Step step)
    {
        m_Steps.push_back(std::move(step));
        return *this;
    }
    // A file dialog: `path` is chosen (relative paths against the working directory), an empty
    // path cancels, and the null string takes the proposed name as it stands.
    ModalScript& ChooseFile(const QString& path = QString())
    {
        return Then([path](QWidget* w) {
            auto* dialog = qobject_cast<QFileDialog*>(w);
            if (!dialog || (!path.isNull() && path.isEmpty())) {
                static_cast<QDialog*>(w)->reject();
                return;
            }
            if (!path.isNull()) {
                // The name field keeps its text while it has the focus: set it directly.
                const QString chosen = QFileInfo(path).absoluteFilePath();
                dialog->selectFile(chosen);
                if (auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
                    edit->setText(chosen);
            }
            static_cast<QDialog*>(dialog)->accept(); // QFileDialog::accept, which checks the choice
        });
    }
    ModalScript& Answer(QMessageBox::StandardButton button)
    {
        return Then([button](QWidget* w) {
            auto* box = qobject_cast<QMessageBox*>(w);
            if (box && box->button(button))
                box->button(button)->click();
            else
                w->close();
        });
    }

    const QList<DialogSeen>& Seen() const { return m_Seen; }
    int Unexpected() const { return m_Unexpected; }

private:
    void Tick()
    {
        QWidget* w = QApplication::activeModalWidget();
        if (!w)
            return;
        if (w == m_Last) {
            // A dialog that stays open after its step (it refused the answer) must not hang the
            // test either.
            if (++m_SameTicks > 100)
                Dismiss(w);
            return;
        }
        if (m_Steps.empty()) {
            // Perhaps another script is waiting for this one; else it goes after a second.
            if (w != m_Idle) {
                m_Idle = w;
                m_IdleTicks = 0;
            }
            if (++m_IdleTicks > 100) {
                m_Last = w;
                m_Seen.append(Describe(w));
                Dismiss(w);
            }
            return;
        }
        m_Last = w;
        m_SameTicks = 0;
        m_Seen.append(Describe(w));
        Step step = std::move(m_Steps.front());
        m_Steps.pop_front();
        step(w);
    }

    void Dismiss(QWidget* w)
    {
        ++m_Unexpected;
        if (auto* dialog = qobject_cast<QDialog*>(w))
            dialog->reject();
        else
            w->close();
    }

    static DialogSeen Describe(QWidget* w)
    {
        DialogSeen seen;
        seen.title = w->windowTitle();
        if (auto* dialog = qobject_cast<QFileDialog*>(w)) {
            seen.proposed = dialog->selectedFiles().value(0);
            seen.folder = dialog->directory().absolutePath();
            seen.filters = dialog->nameFilters();
        } else if (auto* box = qobject_cast<QMessageBox*>(w)) {
            seen.text = box->text();
            seen.buttons = int(box->standardButtons());
            seen.defaultButton = box->defaultButton() ? int(box->standardButton(box->defaultButton())) : 0;
        }
        return seen;
    }

    QTimer m_Timer;
    std::deque<Step> m_Steps;
    QPointer<QWidget> m_Last;
    QList<DialogSeen> m_Seen;
    int m_Unexpected = 0;
    int m_SameTicks = 0;
    QPointer<QWidget> m_Idle;
    int m_IdleTicks = 0;
};

