#include "FocusEnvironment.h"

FocusEnvironment::FocusEnvironment(QObject *parent) : QObject(parent) {}

FocusEnvironment::~FocusEnvironment() = default;
