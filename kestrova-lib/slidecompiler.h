// Compiles one slide document of the content folder with the application's QML engine,
// without blocking the GUI thread.
#pragma once

#include <QObject>
#include <QQmlComponent>
#include <QString>

class QQmlEngine;

class SlideCompiler : public QObject {
    Q_OBJECT
public:
    explicit SlideCompiler(QQmlEngine& engine);
    ~SlideCompiler() override;

    // Compiles <contentPath>/slides/<slideName>.qml. Exactly one of the two signals
    // reports the result, possibly before this returns.
    void load(const QString& contentPath, const QString& slideName);

signals:
    // The receiver owns slide.
    void slideLoaded(QString slideName, QObject* slide);
    void failedToLoadSlide();

public slots:
    void statusChanged(QQmlComponent::Status status);

private:
    QQmlComponent* component = nullptr;
    QObject* item = nullptr;
    QQmlEngine& engine;
    QString slideName;
};
