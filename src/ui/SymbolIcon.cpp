// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "SymbolIcon.h"

#include <QCache>
#include <QFile>
#include <QIconEngine>
#include <QPainter>
#include <QSvgRenderer>

namespace {

QString resourcePath(const QString &name)
{
    return QStringLiteral(":/icons/") + name + QStringLiteral(".svg");
}

QPixmap render(const QString &name, const QColor &color, const QSize &size, qreal ratio)
{
    const QSize device = size * ratio;
    QPixmap pixmap(device);
    pixmap.fill(Qt::transparent);
    QSvgRenderer renderer(resourcePath(name));
    if (renderer.isValid() && !device.isEmpty()) {
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        // Keep the symbol's aspect ratio inside the requested box.
        QSizeF box = renderer.defaultSize().scaled(device, Qt::KeepAspectRatio);
        const QRectF target((device.width() - box.width()) / 2.0,
                            (device.height() - box.height()) / 2.0, box.width(), box.height());
        renderer.render(&painter, target);
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(QRect(QPoint(), device), color);
    }
    pixmap.setDevicePixelRatio(ratio);
    return pixmap;
}

class TintedIconEngine final : public QIconEngine
{
public:
    TintedIconEngine(QString name, QColor color) : m_name(std::move(name)), m_color(color) {}

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State) override
    {
        QColor color = m_color;
        if (mode == QIcon::Disabled)
            color.setAlphaF(color.alphaF() * 0.35f);
        SymbolIcon::paint(*painter, rect, m_name, color);
    }
    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        return scaledPixmap(size, mode, state, 1.0);
    }
    QPixmap scaledPixmap(const QSize &size, QIcon::Mode mode, QIcon::State, qreal scale) override
    {
        QColor color = m_color;
        if (mode == QIcon::Disabled)
            color.setAlphaF(color.alphaF() * 0.35f);
        return SymbolIcon::pixmap(m_name, color, size, scale);
    }
    QIconEngine *clone() const override { return new TintedIconEngine(m_name, m_color); }

private:
    QString m_name;
    QColor m_color;
};

} // namespace

QPixmap SymbolIcon::pixmap(const QString &name, const QColor &color, const QSize &size,
                           qreal devicePixelRatio)
{
    static QCache<QString, QPixmap> cache(256);
    const QString key = name + QLatin1Char('|') + QString::number(color.rgba(), 16) +
                        QLatin1Char('|') + QString::number(size.width()) + QLatin1Char('x') +
                        QString::number(size.height()) + QLatin1Char('@') +
                        QString::number(devicePixelRatio);
    if (const QPixmap *cached = cache.object(key))
        return *cached;
    QPixmap result = render(name, color, size, devicePixelRatio);
    cache.insert(key, new QPixmap(result));
    return result;
}

void SymbolIcon::paint(QPainter &painter, const QRectF &rect, const QString &name,
                       const QColor &color)
{
    const qreal ratio = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    const QSize size = rect.size().toSize();
    painter.drawPixmap(rect.topLeft(), pixmap(name, color, size, ratio));
}

QIcon SymbolIcon::icon(const QString &name, const QColor &color)
{
    return QIcon(new TintedIconEngine(name, color));
}

bool SymbolIcon::exists(const QString &name)
{
    return QFile::exists(resourcePath(name));
}
