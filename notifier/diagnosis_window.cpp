// SPDX-License-Identifier: GPL-3.0-or-later
#include "notifier/diagnosis_window.h"

#include "notifier/diagnosis_report.h"
#include "platform/timing.h"

#include <QCloseEvent>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

// A killed child is reaped at once: it is gone before the notifier's end, or before the next run.
constexpr int kReapMs = 2000;

QString shown(const QByteArray& output) {
    return QString::fromStdString(diagnosis_report(output.toStdString()));
}

} // namespace

DiagnosisWindow::DiagnosisWindow(QString program, QStringList arguments)
    : program_(std::move(program)), arguments_(std::move(arguments)) {
    setWindowTitle(QStringLiteral("kd5lite 诊断"));
    report_ = new QPlainTextEdit(this);
    report_->setObjectName(QStringLiteral("report"));
    report_->setReadOnly(true);
    report_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    report_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont)); // the verdicts stand in a column
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("status"));
    status_->setTextFormat(Qt::PlainText);
    again_ = new QPushButton(QStringLiteral("重新诊断"), this);
    again_->setObjectName(QStringLiteral("again"));
    auto* close = new QPushButton(QStringLiteral("关　　闭"), this);
    close->setObjectName(QStringLiteral("close"));
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(status_, 1);
    buttons->addWidget(again_);
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(report_, 1);
    layout->addLayout(buttons);
    resize(720, 420);

    process_.setProcessChannelMode(QProcess::SeparateChannels); // the report is standard output alone
    process_.setStandardInputFile(QProcess::nullDevice());
    bound_.setSingleShot(true);
    connect(&process_, &QProcess::readyReadStandardOutput, this, [this] { read_output(); });
    connect(&process_, &QProcess::finished, this, [this](int code, QProcess::ExitStatus how) {
        bound_.stop();
        read_output();
        if (how != QProcess::NormalExit) {
            return; // killed: whoever killed it has said why
        }
        ended(code == 0 ? QStringLiteral("诊断结束：一切正常") : QStringLiteral("诊断结束：请处理 FAIL 行"));
    });
    connect(&process_, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) {
            bound_.stop();
            ended(QStringLiteral("诊断程序无法启动：") + program_);
        }
    });
    connect(&bound_, &QTimer::timeout, this, [this] {
        stop();
        ended(QStringLiteral("诊断超时，已中止"));
    });
    connect(again_, &QPushButton::clicked, this, [this] { run(); });
    connect(close, &QPushButton::clicked, this, [this] { this->close(); });
}

DiagnosisWindow::~DiagnosisWindow() {
    stop();
}

void DiagnosisWindow::run() {
    show();
    raise();
    activateWindow();
    if (running()) {
        return;
    }
    output_.clear();
    report_->clear();
    status_->setText(QStringLiteral("正在诊断……"));
    again_->setEnabled(false);
    bound_.start(timing().diagnosis_ms);
    process_.start(program_, arguments_);
}

void DiagnosisWindow::stop() {
    if (!running()) {
        return;
    }
    bound_.stop();
    process_.kill();
    process_.waitForFinished(kReapMs);
}

void DiagnosisWindow::closeEvent(QCloseEvent* event) {
    if (running()) {
        stop();
        ended(QStringLiteral("诊断已中止"));
    }
    event->accept();
}

// The lines so far, as they came: the check takes seconds per account.
void DiagnosisWindow::read_output() {
    output_ += process_.readAllStandardOutput();
    const int end = output_.lastIndexOf('\n') + 1;
    report_->setPlainText(QString::fromStdString(diagnosis_report(output_.left(end).toStdString())));
}

void DiagnosisWindow::ended(const QString& status) {
    report_->setPlainText(shown(output_));
    status_->setText(status);
    again_->setEnabled(true);
}
