#include "settings_dialog/Themes.h"

#include <QApplication>
#include <QPalette>
#include <QPointer>
#include <QStyle>
#include <QStyleFactory>

namespace quvo {

namespace {

const QString kPlatformLook = QStringLiteral("Windows");

// Extra rules on top of the palette; palette() references keep them in the
// theme's own colours. Only buttons and tooltips are styled, so the status
// panels keep the colours the window gives them.
enum class Sheet { Rounded, Gradient, Flat, Glossy, Glow, Classic, Luna, Metro, Tablet };

struct Colours {
    quint32 window, windowText, base, alternateBase, text, button, buttonText, highlight, highlightedText,
        toolTipBase, toolTipText, link;
};

struct Theme {
    const char* name;
    Colours colours;
    Sheet sheet;
};

// Every pair of text and background has a contrast ratio of at least 4.5.
const Theme kThemes[] = {
    {"Amakrits", {0x2f2a24, 0xf2e8d8, 0x221e1a, 0x2b2620, 0xf2e8d8, 0x3d352c, 0xf2e8d8, 0xe07b24, 0x000000, 0xf2e8d8, 0x2f2a24, 0xf4a259}, Sheet::Rounded},
    {"Amethyst Kamri", {0xe9e2f2, 0x2a1d3a, 0xffffff, 0xf3eef9, 0x2a1d3a, 0xd9cceb, 0x2a1d3a, 0x7b4fa8, 0xffffff, 0xfdfbff, 0x2a1d3a, 0x6a3d9a}, Sheet::Gradient},
    {"Aqua Graphite", {0x3a3d42, 0xe6eef2, 0x2b2d31, 0x33363b, 0xe6eef2, 0x4a4e55, 0xe6eef2, 0x3fb7c9, 0x000000, 0xe6eef2, 0x2b2d31, 0x6fd3e0}, Sheet::Gradient},
    {"Aqua Light Slate", {0xdfe6ec, 0x1c2a36, 0xffffff, 0xeef3f7, 0x1c2a36, 0xc9d5df, 0x1c2a36, 0x177585, 0xffffff, 0xffffff, 0x1c2a36, 0x137384}, Sheet::Gradient},
    {"Auric", {0x262522, 0xf0e2b6, 0x1b1a18, 0x23221f, 0xf0e2b6, 0x38352e, 0xf0e2b6, 0xd4a62a, 0x000000, 0xf0e2b6, 0x262522, 0xe8c35a}, Sheet::Rounded},
    {"Carbon", {0x1c1c1c, 0xe8e8e8, 0x121212, 0x1a1a1a, 0xe8e8e8, 0x2d2d2d, 0xe8e8e8, 0xff8c1a, 0x000000, 0xe8e8e8, 0x1c1c1c, 0xffa64d}, Sheet::Flat},
    {"Charcoal Dark Slate", {0x2f3640, 0xdde3ea, 0x232931, 0x2a3039, 0xdde3ea, 0x404955, 0xdde3ea, 0x6f8fb3, 0x000000, 0xdde3ea, 0x2f3640, 0x9db7d5}, Sheet::Rounded},
    {"Cobalt XEMedia", {0x1d2e4a, 0xe3ecfa, 0x142036, 0x1a2a44, 0xe3ecfa, 0x2c4470, 0xe3ecfa, 0x3d8bfd, 0x000000, 0xe3ecfa, 0x1d2e4a, 0x8ab8ff}, Sheet::Gradient},
    {"Cyan Dusk", {0x34404f, 0xe4f2f7, 0x28323e, 0x2f3a48, 0xe4f2f7, 0x46566a, 0xe4f2f7, 0x1fc1d6, 0x000000, 0xe4f2f7, 0x34404f, 0x5fd8e8}, Sheet::Rounded},
    {"Cyan Night", {0x101a26, 0xd6f3fa, 0x0a121b, 0x0f1822, 0xd6f3fa, 0x1c2b3c, 0xd6f3fa, 0x00bcd4, 0x000000, 0xd6f3fa, 0x101a26, 0x4dd9ec}, Sheet::Flat},
    {"Emerald Light Slate", {0xe1e8e6, 0x17302a, 0xffffff, 0xeef4f2, 0x17302a, 0xc8d6d2, 0x17302a, 0x18784f, 0xffffff, 0xffffff, 0x17302a, 0x127049}, Sheet::Gradient},
    {"Glossy", {0x202226, 0xf0f2f5, 0x16181b, 0x1d1f23, 0xf0f2f5, 0x3a3f47, 0xf0f2f5, 0x2f6cc4, 0xffffff, 0xf0f2f5, 0x202226, 0x82b1ff}, Sheet::Glossy},
    {"Glow", {0x1a1f2b, 0xe8f0ff, 0x121621, 0x171c27, 0xe8f0ff, 0x27304a, 0xe8f0ff, 0x4f9dff, 0x000000, 0xe8f0ff, 0x1a1f2b, 0x8cc2ff}, Sheet::Glow},
    {"Golden Graphite", {0x3b3a37, 0xf1ead8, 0x2d2c2a, 0x353431, 0xf1ead8, 0x4d4b46, 0xf1ead8, 0xc9a13b, 0x000000, 0xf1ead8, 0x3b3a37, 0xe0c06a}, Sheet::Gradient},
    {"Iceberg Classico", {0xe6f0f7, 0x13324a, 0xffffff, 0xf0f6fb, 0x13324a, 0xcfe1ee, 0x13324a, 0x2b7bb9, 0xffffff, 0xffffff, 0x13324a, 0x1b5f94}, Sheet::Classic},
    {"Lavender Classico", {0xece8f4, 0x2e2640, 0xffffff, 0xf5f2fa, 0x2e2640, 0xdcd5ea, 0x2e2640, 0x8a74c0, 0x000000, 0xffffff, 0x2e2640, 0x5b4596}, Sheet::Classic},
    {"Light", {0xf5f5f5, 0x1a1a1a, 0xffffff, 0xf7f7f7, 0x1a1a1a, 0xe6e6e6, 0x1a1a1a, 0x1c6ccf, 0xffffff, 0xffffe1, 0x1a1a1a, 0x1a5fb4}, Sheet::Flat},
    {"Luna", {0xece9d8, 0x000000, 0xffffff, 0xf7f6ee, 0x000000, 0xf4f3ee, 0x000000, 0x316ac5, 0xffffff, 0xffffe1, 0x000000, 0x0033cc}, Sheet::Luna},
    {"Metropolis UI Black", {0x000000, 0xffffff, 0x111111, 0x1a1a1a, 0xffffff, 0x262626, 0xffffff, 0x1ba1e2, 0x000000, 0xffffff, 0x000000, 0x5cc3f0}, Sheet::Metro},
    {"Metropolis UI Blue", {0x1b4e8c, 0xffffff, 0x123a6b, 0x164478, 0xffffff, 0x2a64a8, 0xffffff, 0xffffff, 0x1b4e8c, 0xffffff, 0x1b4e8c, 0xbfe0ff}, Sheet::Metro},
    {"Metropolis UI Dark", {0x2b2b2b, 0xf2f2f2, 0x1f1f1f, 0x262626, 0xf2f2f2, 0x3c3c3c, 0xf2f2f2, 0x60a917, 0x000000, 0xf2f2f2, 0x2b2b2b, 0x8fd14f}, Sheet::Metro},
    {"Metropolis UI Green", {0x00703c, 0xffffff, 0x005a30, 0x006536, 0xffffff, 0x15884f, 0xffffff, 0xffffff, 0x00703c, 0xffffff, 0x00703c, 0xc8f5dc}, Sheet::Metro},
    {"Obsidian", {0x2e3436, 0xeeeeec, 0x232829, 0x2a2f31, 0xeeeeec, 0x41494b, 0xeeeeec, 0x729fcf, 0x000000, 0xeeeeec, 0x2e3436, 0x9cc2ea}, Sheet::Rounded},
    {"Onyx Blue", {0x151922, 0xdfe7f5, 0x0d1017, 0x12161e, 0xdfe7f5, 0x232a38, 0xdfe7f5, 0x2f6fe4, 0xffffff, 0xdfe7f5, 0x151922, 0x7ea8f5}, Sheet::Gradient},
    {"Ruby Graphite", {0x3a3839, 0xf3e7e9, 0x2c2a2b, 0x343233, 0xf3e7e9, 0x4c494a, 0xf3e7e9, 0xc2185b, 0xffffff, 0xf3e7e9, 0x3a3839, 0xf07aa5}, Sheet::Gradient},
    {"Sapphire Kamri", {0xdde6f5, 0x0f2147, 0xffffff, 0xedf2fb, 0x0f2147, 0xc4d3ee, 0x0f2147, 0x1f4fb4, 0xffffff, 0xffffff, 0x0f2147, 0x1a44a0}, Sheet::Gradient},
    {"Silver", {0xe4e6e9, 0x1e2226, 0xfbfbfc, 0xf0f1f3, 0x1e2226, 0xd2d5da, 0x1e2226, 0x5f6e7e, 0xffffff, 0xffffff, 0x1e2226, 0x3d5a80}, Sheet::Gradient},
    {"Sky", {0xe3f2fd, 0x0d2b45, 0xffffff, 0xf1f8fe, 0x0d2b45, 0xbbdefb, 0x0d2b45, 0x1e88e5, 0x000000, 0xffffff, 0x0d2b45, 0x0b5fa8}, Sheet::Rounded},
    {"Slate Classico", {0xd3d9e0, 0x1b2430, 0xf4f6f8, 0xe6eaee, 0x1b2430, 0xbcc5cf, 0x1b2430, 0x4a6a8a, 0xffffff, 0xf4f6f8, 0x1b2430, 0x2c4f73}, Sheet::Classic},
    {"Smokey Quartz Kamri", {0x4a4340, 0xf1ebe6, 0x3b3532, 0x433c39, 0xf1ebe6, 0x5e5551, 0xf1ebe6, 0xb89a84, 0x000000, 0xf1ebe6, 0x4a4340, 0xe0c4ad}, Sheet::Gradient},
    {"TabletDark", {0x252526, 0xf0f0f0, 0x1e1e1e, 0x232323, 0xf0f0f0, 0x333337, 0xf0f0f0, 0x007acc, 0xffffff, 0xf0f0f0, 0x252526, 0x4da6ff}, Sheet::Tablet},
    {"Tablet Light", {0xfafafa, 0x202020, 0xffffff, 0xf4f4f4, 0x202020, 0xe8e8e8, 0x202020, 0x0067c0, 0xffffff, 0xffffff, 0x202020, 0x0056a3}, Sheet::Tablet},
    {"Turquoise Gray", {0x5a6066, 0xf2f5f6, 0x4a4f54, 0x53595e, 0xf2f5f6, 0x6b7279, 0xffffff, 0x40e0d0, 0x000000, 0xf2f5f6, 0x4a4f54, 0x8ff0e6}, Sheet::Rounded},
    {"Windows10 Blue", {0x1f3b5c, 0xeaf2fb, 0x16304d, 0x1b3654, 0xeaf2fb, 0x2b4d75, 0xeaf2fb, 0x0a84ff, 0x000000, 0xeaf2fb, 0x1f3b5c, 0x7dbbff}, Sheet::Metro},
    {"Windows10 Dark", {0x202020, 0xffffff, 0x191919, 0x1e1e1e, 0xffffff, 0x333333, 0xffffff, 0x006cc1, 0xffffff, 0xffffff, 0x202020, 0x4cc2ff}, Sheet::Metro},
    {"Windows10", {0xf0f0f0, 0x000000, 0xffffff, 0xf7f7f7, 0x000000, 0xe1e1e1, 0x000000, 0x006cc1, 0xffffff, 0xffffff, 0x000000, 0x0063b1}, Sheet::Metro},
};

const char* sheetFor(Sheet sheet)
{
    switch (sheet) {
    case Sheet::Rounded:
        return "QPushButton { background: palette(button); color: palette(button-text);"
               " border: 1px solid palette(mid); border-radius: 4px; padding: 2px 8px; }"
               "QPushButton:hover { border-color: palette(highlight); }"
               "QPushButton:pressed { background: palette(dark); }"
               "QPushButton:focus { border: 1px solid palette(highlight); }";
    case Sheet::Gradient:
        return "QPushButton { color: palette(button-text); border: 1px solid palette(mid); border-radius: 3px;"
               " padding: 2px 8px; background: qlineargradient(x1:0, y1:0, x2:0, y2:1,"
               " stop:0 palette(light), stop:1 palette(button)); }"
               "QPushButton:hover { border-color: palette(highlight); }"
               "QPushButton:pressed { background: palette(mid); }";
    case Sheet::Flat:
        return "QPushButton { background: palette(button); color: palette(button-text);"
               " border: 1px solid palette(mid); padding: 2px 8px; }"
               "QPushButton:hover { background: palette(light); }"
               "QPushButton:pressed, QPushButton:focus { border: 1px solid palette(highlight); }";
    case Sheet::Glossy:
        return "QPushButton { color: palette(button-text); border: 1px solid palette(shadow); border-radius: 5px;"
               " padding: 2px 8px; background: qlineargradient(x1:0, y1:0, x2:0, y2:1,"
               " stop:0 palette(midlight), stop:0.49 palette(button), stop:0.5 palette(dark), stop:1 palette(button)); }"
               "QPushButton:hover { border-color: palette(highlight); }"
               "QPushButton:pressed { background: palette(dark); }";
    case Sheet::Glow:
        return "QPushButton { background: palette(button); color: palette(button-text);"
               " border: 1px solid palette(highlight); border-radius: 4px; padding: 2px 8px; }"
               "QPushButton:hover, QPushButton:focus { border: 2px solid palette(link); }"
               "QPushButton:pressed { background: palette(highlight); color: palette(highlighted-text); }";
    case Sheet::Classic:
        return "QPushButton { background: palette(button); color: palette(button-text);"
               " border: 2px outset palette(midlight); padding: 1px 8px; }"
               "QPushButton:pressed { border-style: inset; }"
               "QPushButton:focus { border-color: palette(highlight); }";
    case Sheet::Luna:
        return "QPushButton { color: palette(button-text); border: 1px solid #003c74; border-radius: 3px;"
               " padding: 2px 8px; background: qlineargradient(x1:0, y1:0, x2:0, y2:1,"
               " stop:0 #ffffff, stop:0.85 palette(button), stop:1 #d6d0c5); }"
               "QPushButton:hover { border-color: #e5a01a; }"
               "QPushButton:pressed { background: #e3e1d8; }";
    case Sheet::Metro:
        return "QPushButton { background: palette(button); color: palette(button-text);"
               " border: 2px solid palette(button); padding: 1px 8px; }"
               "QPushButton:hover { border-color: palette(mid); }"
               "QPushButton:pressed { background: palette(highlight); color: palette(highlighted-text); }"
               "QPushButton:focus { border-color: palette(highlight); }";
    case Sheet::Tablet:
        return "QPushButton { background: palette(button); color: palette(button-text);"
               " border: none; border-radius: 6px; padding: 3px 10px; }"
               "QPushButton:hover { background: palette(light); }"
               "QPushButton:pressed { background: palette(highlight); color: palette(highlighted-text); }"
               "QPushButton:focus { border: 1px solid palette(highlight); }";
    }
    return "";
}

// Fusion paints a tab page and its tabs in a colour it lightens from the
// button colour, on which the window's text of several themes fades. The page
// takes the window colour and the tabs the button colour, so that every
// caption has the contrast of its own pair of the palette.
const char* const kTabSheet =
    "QTabWidget::pane { background: palette(window); border: 1px solid palette(mid); top: -1px; }"
    "QTabBar::tab { background: palette(button); color: palette(button-text); border: 1px solid palette(mid);"
    " padding: 3px 8px; margin-right: 2px; }"
    "QTabBar::tab:selected { background: palette(window); color: palette(window-text);"
    " border-bottom-color: palette(window); }"
    "QTabBar::tab:!selected { margin-top: 2px; }";

QColor colour(quint32 rgb)
{
    return QColor::fromRgb(rgb);
}

QColor blend(const QColor& a, const QColor& b)
{
    return QColor((a.red() + b.red()) / 2, (a.green() + b.green()) / 2, (a.blue() + b.blue()) / 2);
}

QPalette paletteFor(const Colours& c)
{
    QPalette p(colour(c.button), colour(c.window));
    const auto set = [&p](QPalette::ColorRole role, const QColor& value) {
        p.setColor(QPalette::All, role, value);
    };
    set(QPalette::WindowText, colour(c.windowText));
    set(QPalette::Base, colour(c.base));
    set(QPalette::AlternateBase, colour(c.alternateBase));
    set(QPalette::Text, colour(c.text));
    set(QPalette::ButtonText, colour(c.buttonText));
    set(QPalette::Highlight, colour(c.highlight));
    set(QPalette::HighlightedText, colour(c.highlightedText));
    set(QPalette::ToolTipBase, colour(c.toolTipBase));
    set(QPalette::ToolTipText, colour(c.toolTipText));
    set(QPalette::Link, colour(c.link));
    set(QPalette::LinkVisited, colour(c.link).darker(120));
    set(QPalette::BrightText, colour(c.highlight));
    set(QPalette::PlaceholderText, blend(colour(c.text), colour(c.base)));
    p.setColor(QPalette::Disabled, QPalette::WindowText, blend(colour(c.windowText), colour(c.window)));
    p.setColor(QPalette::Disabled, QPalette::Text, blend(colour(c.text), colour(c.base)));
    p.setColor(QPalette::Disabled, QPalette::ButtonText, blend(colour(c.buttonText), colour(c.button)));
    p.setColor(QPalette::Disabled, QPalette::Base, colour(c.window));
    return p;
}

// The look the program started with, kept for "Windows".
struct PlatformLook {
    bool captured = false;
    QString styleName;
    QPalette palette;
    QString styleSheet;
};

PlatformLook& platformLook()
{
    static PlatformLook look;
    if (!look.captured && qApp) {
        look.captured = true;
        look.styleName = QApplication::style()->name();
        look.palette = QApplication::palette();
        look.styleSheet = qApp->styleSheet();
    }
    return look;
}

QString g_current = kPlatformLook;

} // namespace

QStringList availableStyleNames()
{
    QStringList names{kPlatformLook};
    for (const Theme& theme : kThemes)
        names << QString::fromUtf8(theme.name);
    return names;
}

bool applyStyle(const QString& name)
{
    if (!qApp)
        return false;
    PlatformLook& look = platformLook();
    if (name == kPlatformLook) {
        if (g_current != kPlatformLook) {
            if (QStyle* style = QStyleFactory::create(look.styleName))
                QApplication::setStyle(style);
            QApplication::setPalette(look.palette);
            qApp->setStyleSheet(look.styleSheet);
            g_current = kPlatformLook;
        }
        return true;
    }
    for (const Theme& theme : kThemes) {
        if (name != QLatin1String(theme.name))
            continue;
        QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion"));
        if (!fusion)
            return false;
        QApplication::setStyle(fusion);
        QApplication::setPalette(paletteFor(theme.colours));
        qApp->setStyleSheet(QString::fromLatin1(sheetFor(theme.sheet)) + QString::fromLatin1(kTabSheet));
        g_current = name;
        return true;
    }
    return false;
}

QString currentStyleName()
{
    return g_current;
}

} // namespace quvo
