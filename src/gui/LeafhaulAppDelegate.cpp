#include "gui/LeafhaulAppDelegate.h"

LeafhaulAppDelegate::LeafhaulAppDelegate(QObject *parent)
    : QObject(parent)
{
}

LeafhaulAppDelegate::~LeafhaulAppDelegate() = default;

void LeafhaulAppDelegate::applicationDidFinishLaunching()
{
}
