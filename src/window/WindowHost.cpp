// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "WindowHost.h"

WindowHost::WindowHost(QObject *parent) : QObject(parent) {}

WindowHost::~WindowHost() = default;
