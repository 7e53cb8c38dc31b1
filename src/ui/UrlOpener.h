// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QUrl>

// The seam for handing a web address to the user's browser, so tests never open one.
class UrlOpener
{
public:
    UrlOpener() = default;
    virtual ~UrlOpener() = default;
    Q_DISABLE_COPY_MOVE(UrlOpener)

    // Only http and https addresses are opened; anything else answers false.
    virtual bool open(const QUrl &url) = 0;

    static bool isWebUrl(const QUrl &url);
    // The desktop's browser.
    static UrlOpener &system();
};
