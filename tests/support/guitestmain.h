// The start of a test program whose QML documents need a GUI application.
#pragma once

#include <QByteArray>
#include <QGuiApplication>

#include <glog/logging.h>
#include <gtest/gtest.h>

#include <functional>

namespace testsupport {

// Runs every test inside a QGuiApplication, on the offscreen platform unless one is set
// (layers and surfaces are items, but these tests need no screen). setUp runs once the
// application exists.
inline int runGuiTests(int argc, char** argv, const std::function<void()>& setUp = {})
{
    google::InitGoogleLogging(argv[0]);
    FLAGS_logtostderr = true;
    ::testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (setUp)
        setUp();
    return RUN_ALL_TESTS();
}

} // namespace testsupport
