#include "WindowHost.h"

WindowHost::WindowHost(QObject *parent) : QObject(parent) {}

WindowHost::~WindowHost() = default;
