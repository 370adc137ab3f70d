#include "Windows/RecoveryWindowParts.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPalette>
#include <QScreen>

#include "Resources/FontRegistry.h"
#include "UIPlatform/Texts.h"
#include "UIPlatform/WindowBuilder.h"

namespace velmora::windows::recovery {

void SmallWindow::place(QWidget* w, double x, double y, double width, double height) const {
    w->setGeometry(ui::ToQtRect({x, y, width, height}, contentHeight));
}

SmallWindow MakeSmallWindow(const QString& objectName, int width, int contentHeight,
                            double titleX) {
    SmallWindow made;
    made.contentHeight = contentHeight;
    made.window = new TCImageWindow();
    made.window->setObjectName(objectName);
    made.window->setAttribute(Qt::WA_DeleteOnClose, false);
    made.window->setTitleBarHeight(kTitleBarHeight);
    made.window->setTrafficLightButtonsLeftMargin(13);
    made.window->resize(width, contentHeight + static_cast<int>(kTitleBarHeight));

    QWidget* bar = made.window->titleBarView();
    made.titleLabel = new QLabel(ui::texts::Text(QStringLiteral("WINDOW_TOP_TITLE")), bar);
    made.titleLabel->setObjectName(QStringLiteral("aTitleLabel"));
    made.titleLabel->setGeometry(
        ui::ToQtRect({titleX, 5, 300, 25}, static_cast<int>(kTitleBarHeight)));
    made.titleLabel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    made.titleLabel->setFont(ui::FontRegistry::Font(QStringLiteral("Helvetica Light"), 14));
    made.window->setShowsTitle(false);

    made.content = new QWidget();
    made.content->setAutoFillBackground(true);
    QPalette p = made.content->palette();
    p.setColor(QPalette::Window, Qt::white);
    made.content->setPalette(p);
    made.window->setContentView(made.content);
    return made;
}

QLabel* KeyLabel(QWidget* parent, const QString& objectName, const QString& key, int points,
                 bool bold, bool wrap) {
    auto* label = new QLabel(ui::texts::Text(key), parent);
    label->setObjectName(objectName);
    label->setWordWrap(wrap);
    label->setAlignment(Qt::AlignLeft | (wrap ? Qt::AlignTop : Qt::AlignVCenter));
    label->setFont(ui::FontRegistry::Font(
        bold ? QStringLiteral("Helvetica Bold") : QStringLiteral("Helvetica"), points));
    return label;
}

void SetPathLink(QLabel* label, const QString& path) {
    label->setTextFormat(Qt::RichText);
    label->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
    label->setToolTip(path);
    if (path.isEmpty()) {
        label->clear();
        return;
    }
    label->setFont(ui::FontRegistry::Font(QStringLiteral("Helvetica"), 12));
    // The path is text, never markup.
    label->setText(QStringLiteral("<a href=\"folder\" style=\"color: rgb(24, 90, 166); "
                                  "text-decoration: underline;\">%1</a>")
                       .arg(path.toHtmlEscaped()));
}

void CentreOnScreen(QWidget* window) {
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = window->frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        window->move(frame.topLeft());
    }
}

}  // namespace velmora::windows::recovery
