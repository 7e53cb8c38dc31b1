// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "FocusEnvironment.h"

FocusEnvironment::FocusEnvironment(QObject *parent) : QObject(parent) {}

FocusEnvironment::~FocusEnvironment() = default;
