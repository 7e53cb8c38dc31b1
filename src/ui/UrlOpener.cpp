// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "UrlOpener.h"

#include <QDesktopServices>

namespace {

class SystemUrlOpener final : public UrlOpener
{
public:
    bool open(const QUrl &url) override { return isWebUrl(url) && QDesktopServices::openUrl(url); }
};

} // namespace

bool UrlOpener::isWebUrl(const QUrl &url)
{
    return url.isValid() && !url.host().isEmpty() &&
           (url.scheme() == QLatin1String("https") || url.scheme() == QLatin1String("http"));
}

UrlOpener &UrlOpener::system()
{
    static SystemUrlOpener opener;
    return opener;
}
