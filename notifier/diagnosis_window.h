// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QProcess>
#include <QStringList>
#include <QTimer>
#include <QWidget>

class QLabel;
class QPlainTextEdit;
class QPushButton;

// The tray's 诊断…: kd5lite --check run as a child process, so that the notifier keeps answering while the check
// waits for servers, and its report shown as plain text, the FAIL and warn lines first (diagnosis_report.h). A
// run is bounded by the timing record's diagnosis_ms and ended when the window closes or the notifier ends.
//
// Controls: "report" (the text), "status" (what the run is doing or how it ended), "again", "close".
class DiagnosisWindow : public QWidget {
    Q_OBJECT
public:
    // What runs the diagnosis: this program with --check; tests give a script of their own.
    DiagnosisWindow(QString program, QStringList arguments);
    ~DiagnosisWindow() override;

    // Shows the window and starts a run, unless one runs already.
    void run();
    // Ends the run at once (the child is killed and reaped); nothing when none runs.
    void stop();
    bool running() const { return process_.state() != QProcess::NotRunning; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void read_output();
    void ended(const QString& status);

    QString program_;
    QStringList arguments_;
    QProcess process_;
    QTimer bound_;
    QByteArray output_;
    QPlainTextEdit* report_;
    QLabel* status_;
    QPushButton* again_;
};
