#include "resolutionchecker.h"

#include "logging.h"

#include <QProcess>
#include <QRegularExpression>
#include <QThread>
#include <QTimer>

ResolutionChecker::ResolutionChecker(QObject* parent)
    : QObject(parent)
    , thread(new QThread(this))
    , worker(new ResolutionCheckerHelper)
{
    worker->moveToThread(thread);
    thread->start();
}

ResolutionChecker::~ResolutionChecker()
{
    if (thread->isRunning()) {
        thread->quit();
        // A check may be waiting on the tool; destroying a running QThread would abort.
        thread->wait();
    }
    delete worker;
}

void ResolutionChecker::startCheckingResolution(int delay)
{
    auto* timer = new QTimer;
    timer->setSingleShot(true);
    timer->setInterval(delay);
    timer->moveToThread(thread);
    // The thread's last act is to delete what was left to it.
    connect(thread, &QThread::finished, timer, &QObject::deleteLater);

    // Queued: the timer must be started from the thread it lives in.
    connect(this, SIGNAL(start()), timer, SLOT(start()));
    connect(worker, &ResolutionCheckerHelper::resolutionObtained, this, &ResolutionChecker::screenResolutionReceived,
            Qt::UniqueConnection);
    ResolutionCheckerHelper* helper = worker;
    connect(timer, &QTimer::timeout, timer, [helper] { helper->obtainReportedResolution(); });
    emit start();
}

void ResolutionCheckerHelper::obtainReportedResolution()
{
    QProcess process;
    process.start(QStringLiteral("tvservice"), {QStringLiteral("-s")}, QIODevice::ReadWrite);
    process.waitForFinished(30000);
    // Up to the first NUL byte, like any C string the tool might hand over.
    const QString text = QString::fromLatin1(process.readAllStandardOutput().constData());
    LOG(INFO) << "TV service output: " << text << ".";

    // e.g. "state 0x12000a [HDMI CEA (16) RGB lim 16:9], 1920x1080 @ 60.00Hz, progressive"
    const QRegularExpression resolution(QStringLiteral(R"((\d+)x(\d+)\s*@)"));
    const QRegularExpressionMatch match = resolution.match(text);
    if (!match.hasMatch()) {
        LOG(INFO) << "Can't obtain resolution from tvservice.";
        return;
    }
    const int width = match.captured(1).toInt(nullptr, 10);
    const int height = match.captured(2).toInt(nullptr, 10);
    emit resolutionObtained(QSize(width, height));
    LOG(INFO) << "Resolution reported by tvservice: " << width << "x" << height << ".";
}
