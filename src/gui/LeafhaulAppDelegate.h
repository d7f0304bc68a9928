#pragma once

#include <QObject>

// Owns the main window and drives the import road.
class LeafhaulAppDelegate : public QObject
{
    Q_OBJECT
public:
    explicit LeafhaulAppDelegate(QObject *parent = nullptr);
    ~LeafhaulAppDelegate() override;

    void applicationDidFinishLaunching();
};
