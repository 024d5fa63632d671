#include "slidecompiler.h"

#include "logging.h"

#include <QDir>
#include <QFileInfo>
#include <QQmlEngine>
#include <QUrl>

SlideCompiler::SlideCompiler(QQmlEngine& engine)
    : engine(engine)
{
}

SlideCompiler::~SlideCompiler()
{
    delete component;
}

void SlideCompiler::load(const QString& contentPath, const QString& slideName)
{
    const QString path = QDir(contentPath).filePath(QStringLiteral("slides/%1.qml").arg(slideName));
    this->slideName = slideName;
    if (!QFileInfo::exists(path)) {
        LOG(INFO) << "Slide file not found";
        emit failedToLoadSlide();
        return;
    }
    delete component;
    component = new QQmlComponent(&engine, QUrl::fromLocalFile(path), QQmlComponent::Asynchronous);
    if (component->isLoading())
        connect(component, &QQmlComponent::statusChanged, this, &SlideCompiler::statusChanged);
    else
        statusChanged(component->status());
}

void SlideCompiler::statusChanged(QQmlComponent::Status status)
{
    switch (status) {
    case QQmlComponent::Error:
        LOG(INFO) << "void SlideCompiler::statusChanged(QQmlComponent::Status)"
                  << " Cant load component: " << component->errorString();
        // Let go of cached compilation data that nothing uses any more.
        engine.trimComponentCache();
        emit failedToLoadSlide();
        break;
    case QQmlComponent::Ready:
        item = component->create();
        if (!item) {
            LOG(INFO) << "void SlideCompiler::statusChanged(QQmlComponent::Status)"
                      << " Cant create slide item: " << component->errorString();
            // The compiled document stays cached otherwise: the next attempt, perhaps at
            // a fixed file, should compile it afresh.
            engine.clearComponentCache();
            emit failedToLoadSlide();
            break;
        }
        LOG(INFO) << "Slide " << slideName << " is loaded";
        emit slideLoaded(slideName, item);
        break;
    case QQmlComponent::Null:
    case QQmlComponent::Loading:
        break;
    }
}
