// SPDX-License-Identifier: GPL-3.0-or-later
#include "forms/formsupport.h"

#include <QCheckBox>
#include <QFontDatabase>
#include <QFontInfo>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QtMath>
#include <algorithm>

namespace {

int toPixels(int twips, int dpi)
{
    return qRound(twips * dpi / 1440.0);
}

bool fits(const QFontMetrics &metrics, const QWidget *control, const QString &text, int besideText,
          int height)
{
    return metrics.horizontalAdvance(text) + besideText <= control->width() &&
           qMax(metrics.height(), height) <= control->height();
}

// Whether the caption would show whole in the given font's measures.
bool captionFitsIn(const QWidget *control, const QFontMetrics &metrics)
{
    const QStyle *style = control->style();
    if (const auto *box = qobject_cast<const QCheckBox *>(control)) {
        const int indicator = style->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, box);
        const int spacing = style->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, box);
        return fits(metrics, box, box->text(), indicator + spacing,
                    style->pixelMetric(QStyle::PM_IndicatorHeight, nullptr, box));
    }
    if (const auto *button = qobject_cast<const QPushButton *>(control)) {
        const int frame = style->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, button);
        return fits(metrics, button, button->text(), 2 * frame, 0);
    }
    if (const auto *label = qobject_cast<const QLabel *>(control)) {
        const QMargins margins = label->contentsMargins();
        return fits(metrics, label, label->text(),
                    margins.left() + margins.right() + 2 * label->margin(), 0);
    }
    return true;
}

} // namespace

QRect twipsToPixels(const QWidget *window, int left, int top, int width, int height)
{
    const int dpiX = window->logicalDpiX();
    const int dpiY = window->logicalDpiY();
    return QRect(toPixels(left, dpiX), toPixels(top, dpiY), toPixels(width, dpiX),
                 toPixels(height, dpiY));
}

bool captionFits(const QWidget *control)
{
    return captionFitsIn(control, control->fontMetrics());
}

QFont windowFont(const QFont &general, const QStringList &families)
{
    const auto writesRussian = [](const QString &family) {
        return QFontDatabase::writingSystems(family).contains(QFontDatabase::Cyrillic);
    };
    if (writesRussian(QFontInfo(general).family()))
        return general;
    QFont font = general;
    for (const QString &family : families) {
        if (writesRussian(family)) {
            font.setFamily(family);
            break;
        }
    }
    return font;
}

QFont fitCaptionFont(QWidget *window)
{
    QFont font = window->font();
    const auto controls = window->findChildren<QWidget *>();
    // Measured first and set once: setting a window's font re-polishes all its controls.
    for (qreal points = 8; points >= 6; points -= 0.5) {
        font.setPointSizeF(points);
        const QFontMetrics metrics(font, window);
        if (std::all_of(controls.cbegin(), controls.cend(),
                        [&](const QWidget *control) { return captionFitsIn(control, metrics); }))
            break;
    }
    window->setFont(font);
    return font;
}
