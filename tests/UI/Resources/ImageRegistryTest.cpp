#include "Resources/ImageRegistry.h"

#include <gtest/gtest.h>

#include <QFontInfo>
#include <QImage>

#include "QtPrinters.h"
#include "Resources/FontRegistry.h"

using velmora::ui::FontRegistry;
using velmora::ui::ImageOrigin;
using velmora::ui::ImageRegistry;

namespace {

// Every picture name the windows ask for: the title bars, the wizard pages,
// the results browser, its trees, lists, grid and empty-state notes, and the
// windows' own buttons.
QStringList NamesTheWindowsUse() {
    QStringList names = {"icon_infor",
                         "icon_infor_hover",
                         "icon_import",
                         "icon_import_hover",
                         "icon_menu",
                         "icon_menu_hover",
                         "text",
                         "icon_b",
                         "checkbox_yes",
                         "checkbox_no",
                         "checkbox_half",
                         "radio_button_yes",
                         "radio_button_no",
                         "hover_bg",
                         "icon_disk_osx",
                         "icon_mirror",
                         "icon_usb",
                         "icon_disk",
                         "icon_desktop",
                         "select_disk",
                         "del_press",
                         "del_normal",
                         "warning",
                         "warning_b",
                         "pf_checkbox_yes",
                         "pf_checkbox_no",
                         "pf_checkbox_half",
                         "deletered",
                         "bg_tab",
                         "text_bg",
                         "bg_150",
                         "arrow",
                         "BackgroundDust",
                         "loading.png",
                         "logo",
                         "view_bg_normal",
                         "view_bg_press",
                         "view_mode_list",
                         "view_mode_grid",
                         "view_mode_coverflow"};
    for (const char* mode : {"d", "f", "c"}) {
        for (const char* state : {"normal", "select", "hover"}) {
            names << QStringLiteral("%1_recover_%2").arg(mode, state);
        }
    }
    for (const char* family :
         {"next", "back", "continue", "scan", "icon_back", "btn_scan", "icon_home", "icon_export",
          "pause", "play", "stop", "btn_recover", "btn_ds"}) {
        for (const char* state : {"normal", "press", "hover", "disable"}) {
            names << QStringLiteral("%1_%2").arg(family, state);
        }
    }
    for (int kind = 0; kind <= 11; ++kind) {
        names << QStringLiteral("%1IconImage").arg(kind);
    }
    for (const char* kind : {"close", "minimize", "zoom"}) {
        for (const char* state : {"", "_rollover", "_inactive"}) {
            names << QStringLiteral("win_%1%2").arg(kind, state);
        }
    }
    return names;
}

bool HasInk(const QPixmap& pixmap) {
    const QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (qAlpha(image.pixel(x, y)) > 0) {
                return true;
            }
        }
    }
    return false;
}

}  // namespace

TEST(ImageRegistry, EveryNameTheWindowsUseHasAPicture) {
    QStringList known = ImageRegistry::KnownNames();
    for (const QString& name : NamesTheWindowsUse()) {
        SCOPED_TRACE(name.toStdString());
        const ImageOrigin origin = ImageRegistry::Origin(name);
        EXPECT_NE(origin, ImageOrigin::Placeholder);
        const QPixmap pixmap = ImageRegistry::Pixmap(name);
        EXPECT_EQ(pixmap.deviceIndependentSize().toSize(), ImageRegistry::NaturalSize(name));
        EXPECT_TRUE(HasInk(pixmap));
        EXPECT_TRUE(known.removeOne(name)) << "not listed by KnownNames";
    }
    // Every drawing is in use: nothing shipped that no window asks for.
    EXPECT_TRUE(known.isEmpty()) << known.join(", ").toStdString();
    EXPECT_TRUE(ImageRegistry::PlaceholderNamesAsked().isEmpty());
}

TEST(ImageRegistry, ANameNobodyDrewShowsALabelledPlaceholderAndIsRecorded) {
    const QString name = QStringLiteral("no_such_picture");
    EXPECT_EQ(ImageRegistry::Origin(name), ImageOrigin::Placeholder);
    const QPixmap pixmap = ImageRegistry::Pixmap(name, QSize(40, 20));
    EXPECT_EQ(pixmap.size(), QSize(40, 20));
    EXPECT_TRUE(HasInk(pixmap));
    EXPECT_TRUE(ImageRegistry::PlaceholderNamesAsked().contains(name));
}

TEST(ImageRegistry, ButtonPicturesHaveTheSizesOfTheirButtons) {
    const struct {
        const char* name;
        QSize size;
    } cases[] = {
        {"next_normal", {300, 70}},
        {"btn_scan_hover", {138, 41}},
        {"btn_recover_press", {138, 41}},
        {"btn_ds_disable", {166, 41}},
        {"icon_back_normal", {60, 60}},
        {"icon_home_normal", {60, 60}},
        {"icon_export_press", {60, 60}},
        {"pause_normal", {18, 18}},
        {"stop_disable", {18, 18}},
        {"icon_infor", {16, 16}},
        {"icon_import_hover", {16, 16}},
        {"d_recover_select", {410, 90}},
        {"hover_bg", {400, 72}},
        {"arrow", {82, 39}},
        {"view_bg_press", {114, 94}},
        {"icon_b", {440, 340}},
        {"text", {510, 40}},
        {"win_close", {14, 14}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ImageRegistry::NaturalSize(QLatin1String(c.name)), c.size) << c.name;
    }
}

TEST(FontRegistry, HelveticaFamiliesMapToNimbusSansWithTheirWeightAndSize) {
    const struct {
        const char* name;
        qreal points;
        QFont::Weight weight;
    } cases[] = {
        {"Helvetica", 12, QFont::Normal},
        {"Helvetica Light", 16, QFont::Light},
        {"Helvetica Neue Light", 13, QFont::Light},
        {"Helvetica Neue Thin", 14, QFont::Thin},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QFont font = FontRegistry::Font(QLatin1String(c.name), c.points);
        // fontconfig may name the foundry too: "Nimbus Sans [urw]".
        EXPECT_TRUE(QFontInfo(font).family().startsWith(QStringLiteral("Nimbus Sans")))
            << QFontInfo(font).family().toStdString();
        EXPECT_EQ(font.weight(), c.weight);
        EXPECT_EQ(font.pixelSize(), qRound(c.points));
    }
    EXPECT_TRUE(QFontInfo(FontRegistry::SystemFont(13)).family().startsWith("Nimbus Sans"));
    // A name that is not mapped keeps its own family, so a typo shows.
    EXPECT_EQ(FontRegistry::Font(QStringLiteral("Helvetika"), 12).family(),
              QStringLiteral("Helvetika"));
}
