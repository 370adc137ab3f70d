// Shows every interface widget in its states and writes one PNG per widget,
// for a person to look at (offscreen or under Xvfb):
//   widget_gallery OUTPUT_FOLDER
#include <QApplication>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QScrollArea>
#include <QStandardItemModel>
#include <QTranslator>
#include <QVBoxLayout>
#include <cstdio>
#include <memory>
#include <vector>

#include "CNGridView/CNGridView.h"
#include "CNGridView/CNGridViewItem.h"
#include "Resources/FontRegistry.h"
#include "Resources/ImageRegistry.h"
#include "TopView/TCImageButton.h"
#include "TopView/TCImageWindow.h"
#include "Widgets/CellNode.h"
#include "Widgets/CustomHeaderCell.h"
#include "Widgets/GroupView.h"
#include "Widgets/ImageAndTextCell.h"
#include "Widgets/MAAttachedWindow.h"
#include "Widgets/MyNSApplication.h"
#include "Widgets/NewButton.h"
#include "Widgets/PLXCustemButton.h"
#include "Widgets/VKCustomOutlineView.h"
#include "Widgets/VKDeepScanViewController.h"
#include "Widgets/VKHandButton.h"
#include "Widgets/VKNSTableView.h"
#include "Widgets/VKProgressView.h"
#include "Widgets/VKTableHeaderView.h"

using velmora::ui::FontRegistry;
using velmora::ui::ICellNode;
using velmora::ui::ImageOrigin;
using velmora::ui::ImageRegistry;

namespace {

// The English of the few texts the gallery's widgets show, until the
// program's translations exist.
class GalleryTexts : public QTranslator {
public:
    bool isEmpty() const override { return false; }
    QString translate(const char*, const char* key, const char*, int) const override {
        if (qstrcmp(key, "PLX_FOUR_NO_VALUE_NOTE") == 0) {
            return QStringLiteral("No files here. Choose another folder on the left.");
        }
        if (qstrcmp(key, "PLX_FOUR_DEEPSCAN_NODE") == 0) {
            return QStringLiteral(
                "Not all your files found? Deep Scan searches every sector of the drive.");
        }
        return QString();
    }
};

struct Node : ICellNode {
    Node(QString n, int s, int k) : name_(std::move(n)), state_(s), kind_(k) {}
    QString name() const override { return name_; }
    int state() const override { return state_; }
    int iconKind() const override { return kind_; }
    QString name_;
    int state_;
    int kind_;
};

QLabel* Caption(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setFont(FontRegistry::Font(QStringLiteral("Helvetica"), 12));
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, QColor(90, 90, 90));
    label->setPalette(p);
    return label;
}

QWidget* Page(int w, int h) {
    auto* page = new QWidget;
    page->setAttribute(Qt::WA_DontShowOnScreen);
    page->resize(w, h);
    QPalette p = page->palette();
    p.setColor(QPalette::Window, QColor(236, 238, 241));
    page->setPalette(p);
    page->setAutoFillBackground(true);
    return page;
}

bool Save(QWidget* w, const QDir& dir, const char* file) {
    w->show();
    QApplication::processEvents();
    const QString path = dir.filePath(QLatin1String(file));
    const bool ok = w->grab().save(path);
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
    return ok;
}

// 1. A main window's title bar: 50 points high, the window's buttons from
// x 8 centred in it, a picture button and a grey title, grabbed while the
// window is active and again after another window took over (disabled bar
// button, half-transparent title, grey window buttons).
std::unique_ptr<TCImageWindow> MainLikeWindow(const QString& title) {
    auto w = std::make_unique<TCImageWindow>();
    w->setAttribute(Qt::WA_DontShowOnScreen);
    w->resize(600, 130);
    w->setWindowTitle(title);
    w->setTitleBarHeight(50);
    w->setTrafficLightButtonsLeftMargin(8);
    w->setShowsTitle(true);
    auto* info = new TCImageButton(QRect(560, 17, 16, 16), w->titleBarView());
    info->setImageFromFileNormalName("icon_infor", "icon_infor_hover", "icon_infor_hover",
                                     "icon_infor");
    auto* strip = new VKProgressView(w->contentView());
    strip->setGeometry(0, 0, 600, 4);
    strip->changeProgressValue(50);
    Caption(QStringLiteral("content view: the frame's height less the 50-point bar"),
            w->contentView())
        ->move(12, 20);
    return w;
}

QImage GrabActive(QWidget* w) {
    w->show();
    w->activateWindow();
    QApplication::setActiveWindow(w);
    QApplication::processEvents();
    return w->grab().toImage();
}

bool TitleBarWindows(const QDir& dir) {
    auto window = MainLikeWindow(QStringLiteral("Velmora"));
    auto other = MainLikeWindow(QStringLiteral("Other"));
    const QImage active = GrabActive(window.get());
    GrabActive(other.get());
    const QImage inactive = window->grab().toImage();
    QImage page(620, 340, QImage::Format_ARGB32);
    page.fill(QColor(236, 238, 241));
    QPainter painter(&page);
    painter.setFont(FontRegistry::Font(QStringLiteral("Helvetica"), 12));
    painter.setPen(QColor(90, 90, 90));
    painter.drawText(10, 18, QStringLiteral("active window"));
    painter.drawImage(10, 26, active);
    painter.drawText(10, 188, QStringLiteral("inactive window"));
    painter.drawImage(10, 196, inactive);
    painter.end();
    const QString path = dir.filePath(QStringLiteral("title_bar_window.png"));
    const bool ok = page.save(path);
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
    return ok;
}

// 2. Picture buttons in each state, with and without a label.
bool ImageButtons(const QDir& dir) {
    auto page = std::unique_ptr<QWidget>(Page(710, 230));
    const char* states[] = {"normal", "hover", "pressed", "unusable", "window inactive"};
    for (int i = 0; i < 5; ++i) {
        const int x = 10 + i * 138;
        Caption(QLatin1String(states[i]), page.get())->move(x, 8);
        auto* round = new TCImageButton(QRect(x, 30, 60, 60), page.get());
        round->setImageFromFileNormalName("icon_home_normal", "icon_home_press", "icon_home_hover",
                                          "icon_home_disable");
        auto* wide = new TCImageButton(QRect(x, 110, 138, 41), page.get());
        wide->setImageFromFileNormalName("btn_recover_normal", "btn_recover_press",
                                         "btn_recover_hover", "btn_recover_disable");
        auto* labelled = new TCImageButton(QRect(x, 175, 138, 41), page.get());
        labelled->setImageFromFileNormalName("btn_scan_normal", "btn_scan_press", "btn_scan_hover",
                                             "btn_scan_disable");
        labelled->setTextWithName(QStringLiteral("Scan"), QRect(0, 0, 142, 41));
        for (TCImageButton* b : {round, wide, labelled}) {
            switch (i) {
                case 1:
                    b->setIsFocus(true);
                    break;
                case 2:
                    b->setButtonClicked(true);
                    break;
                case 3:
                    b->setButtonEnabled(false);
                    break;
                case 4:
                    b->setEnabled(false);
                    break;
                default:
                    break;
            }
        }
    }
    return Save(page.get(), dir, "image_button.png");
}

// 3. Progress strips, 4 points high, at 0, 50, 99.95 and 150 percent.
bool ProgressStrips(const QDir& dir) {
    auto page = std::unique_ptr<QWidget>(Page(920, 150));
    const float values[] = {0, 50, 99.95f, 150};
    for (int i = 0; i < 4; ++i) {
        Caption(QStringLiteral("%1 %").arg(values[i]), page.get())->move(10, 10 + i * 34);
        auto* strip = new VKProgressView(page.get());
        strip->setGeometry(10, 28 + i * 34, 900, 4);
        strip->changeProgressValue(values[i]);
    }
    return Save(page.get(), dir, "progress_strip.png");
}

// 4. The results table with its flat header sorted on Name (the triangle is
// white on the near-white header), and the same table empty, with its note.
bool ResultsTables(const QDir& dir) {
    auto page = std::unique_ptr<QWidget>(Page(760, 560));
    auto* model = new QStandardItemModel(0, 4, page.get());
    model->setHorizontalHeaderLabels({"Name", "Size", "Path", "Created"});
    const char* rows[][4] = {{"holiday.jpg", "2.1 MB", "/DCIM/100", "3 March 2024 10:02"},
                             {"report.docx", "88 KB", "/Documents", "1 April 2024 09:15"},
                             {"song.mp3", "4.5 MB", "/Music", "9 May 2023 21:40"},
                             {"notes.txt", "2 KB", "/", "12 June 2024 08:00"}};
    for (auto& r : rows) {
        QList<QStandardItem*> items;
        for (const char* c : r) {
            items << new QStandardItem(QLatin1String(c));
        }
        model->appendRow(items);
    }
    Caption(QStringLiteral("with files, sorted by Name (ascending)"), page.get())->move(10, 6);
    auto* table = new VKNSTableView(page.get());
    table->setModel(model);
    table->setGeometry(10, 26, 740, 200);
    table->setColumnWidth(0, 200);
    table->setColumnWidth(2, 160);
    table->setColumnWidth(3, 200);
    table->verticalHeader()->hide();
    table->horizontalHeader()->setStretchLastSection(true);
    table->horizontalHeader()->setSortIndicatorShown(true);
    table->horizontalHeader()->setSortIndicator(0, Qt::AscendingOrder);

    Caption(QStringLiteral("empty: the note and its arrow"), page.get())->move(10, 236);
    auto* emptyModel = new QStandardItemModel(0, 4, page.get());
    emptyModel->setHorizontalHeaderLabels({"Name", "Size", "Path", "Created"});
    auto* empty = new VKNSTableView(page.get());
    empty->setModel(emptyModel);
    empty->setGeometry(10, 256, 740, 290);
    empty->verticalHeader()->hide();
    empty->horizontalHeader()->setStretchLastSection(true);
    empty->setColumnWidth(0, 200);
    empty->setColumnWidth(2, 200);
    page->show();
    QApplication::processEvents();
    empty->changeNoValue(false);
    return Save(page.get(), dir, "results_table.png");
}

// 5. The disk outline: the chosen row blue, the disk rows grey.
bool DiskOutline(const QDir& dir) {
    auto page = std::unique_ptr<QWidget>(Page(520, 220));
    auto* model = new QStandardItemModel(page.get());
    model->setHorizontalHeaderLabels({"Drives", "Size", "File system"});
    auto disk = [&](const QString& name, const QString& size, const QString& icon) {
        auto* item = new QStandardItem(ImageRegistry::Icon(icon), name);
        model->appendRow({item, new QStandardItem(size), new QStandardItem(QString())});
        return item;
    };
    auto volume = [&](QStandardItem* parent, const QString& name, const QString& size,
                      const QString& fs) {
        parent->appendRow({new QStandardItem(ImageRegistry::Icon("icon_disk"), name),
                           new QStandardItem(size), new QStandardItem(fs)});
    };
    QStandardItem* a = disk("Samsung SSD 860", "500.1 GB", "icon_disk");
    volume(a, "System", "499.0 GB", "ext4");
    QStandardItem* b = disk("SanDisk Ultra USB", "32.0 GB", "icon_usb");
    volume(b, "PHOTOS", "31.9 GB", "FAT32");
    volume(b, "BACKUP", "0.1 GB", "exFAT");
    auto* outline = new VKCustomOutlineView(page.get());
    outline->setModel(model);
    outline->setItemDelegateForColumn(0, new ImageAndTextCell(outline));
    outline->setGeometry(10, 10, 500, 200);
    outline->expandAll();
    outline->setColumnWidth(0, 260);
    outline->setIsRootArr({"0", "2"});
    outline->setSelectCellBackgroundColorWithRow(3);
    return Save(page.get(), dir, "disk_outline.png");
}

// 6. Tick-box cells of the result trees in their three states.
bool CheckCells(const QDir& dir, std::vector<std::unique_ptr<Node>>& nodes) {
    auto page = std::unique_ptr<QWidget>(Page(420, 100));
    auto* model = new QStandardItemModel(page.get());
    auto add = [&](const QString& name, int state, int kind) {
        nodes.push_back(std::make_unique<Node>(name, state, kind));
        auto* item = new QStandardItem;
        item->setData(QVariant::fromValue<ICellNode*>(nodes.back().get()),
                      velmora::ui::kCellNodeRole);
        model->appendRow(item);
    };
    add(QStringLiteral("Untitled (unticked)"), 0, 0);
    add(QStringLiteral("Pictures (partly ticked)"), 1, 3);
    add(QStringLiteral("Music (ticked)"), 2, 5);
    auto* tree = new QTreeView(page.get());
    tree->setHeaderHidden(true);
    tree->setRootIsDecorated(false);
    tree->setModel(model);
    tree->setItemDelegate(new NewButton(tree));
    tree->setGeometry(10, 10, 400, 80);
    return Save(page.get(), dir, "check_cells.png");
}

// 7. Category buttons (selected, unselected, hover, disabled) and a link.
bool CustomButtons(const QDir& dir) {
    auto page = std::unique_ptr<QWidget>(Page(840, 270));
    const char* captions[] = {"selected", "unselected", "under the pointer", "disabled"};
    for (int i = 0; i < 4; ++i) {
        const int x = 10 + (i % 2) * 415;
        const int y = 10 + (i / 2) * 110;
        Caption(QLatin1String(captions[i]), page.get())->move(x, y);
        auto* b = new PLXCustemButton(page.get());
        b->setGeometry(x, y + 20, 400, 72);
        b->setIconImage("checkbox_no", "checkbox_yes");
        b->setTitleStr(QStringLiteral("Pictures"),
                       QStringLiteral("JPEG, PNG, camera raw and other pictures"));
        if (i == 1) {
            b->changeButtonStart(false);
        } else if (i == 2) {
            b->changeButtonStart(false);
            b->setIsFocus(true);
        } else if (i == 3) {
            b->setButtonEnabled(false);
        }
    }
    auto* link = new VKHandButton(QStringLiteral("How to scan an APFS volume"), page.get());
    link->setFlat(true);
    link->setGeometry(10, 240, 260, 24);
    QPalette p = link->palette();
    p.setColor(QPalette::ButtonText, QColor(24, 90, 166));
    link->setPalette(p);
    return Save(page.get(), dir, "custom_buttons.png");
}

// 8. Icon-and-text cells and a grouping box.
bool CellsAndGroup(const QDir& dir) {
    auto page = std::unique_ptr<QWidget>(Page(560, 260));
    auto* group = new GroupView(page.get());
    group->setGeometry(10, 10, 540, 240);
    Caption(QStringLiteral("GroupView with icon-and-text cells (rows of 20 points)"), group)
        ->move(20, 12);
    auto* model = new QStandardItemModel(page.get());
    const char* names[][2] = {{"holiday.jpg", "3IconImage"},
                              {"Documents", "1IconImage"},
                              {"a 32-point picture drawn in 18 points", "logo"},
                              {"no picture", ""}};
    for (auto& n : names) {
        auto* item = new QStandardItem(QLatin1String(n[0]));
        if (*n[1]) {
            item->setData(ImageRegistry::Pixmap(QLatin1String(n[1]), QSize(32, 32)),
                          Qt::DecorationRole);
        }
        model->appendRow(item);
    }
    auto* list = new QTreeView(group);
    list->setHeaderHidden(true);
    list->setRootIsDecorated(false);
    list->setModel(model);
    list->setItemDelegate(new ImageAndTextCell(list));
    list->setGeometry(30, 45, 480, 120);
    return Save(page.get(), dir, "cells_and_group.png");
}

// 9. Every picture by name, as a contact sheet.
bool Pictures(const QDir& dir) {
    const QStringList names = ImageRegistry::KnownNames();
    const int columns = 6;
    const int cellW = 150;
    const int cellH = 92;
    const int rows = (names.size() + columns - 1) / columns;
    QImage sheet(columns * cellW, rows * cellH, QImage::Format_ARGB32);
    sheet.fill(QColor(236, 238, 241));
    QPainter painter(&sheet);
    painter.setFont(FontRegistry::Font(QStringLiteral("Helvetica"), 10));
    for (int i = 0; i < names.size(); ++i) {
        const QRect cell((i % columns) * cellW, (i / columns) * cellH, cellW, cellH);
        QSize size = ImageRegistry::NaturalSize(names[i]);
        size.scale(QSize(cellW - 10, cellH - 24).boundedTo(size * 2), Qt::KeepAspectRatio);
        const QPixmap pixmap = ImageRegistry::Pixmap(names[i], size);
        const QRect target(cell.x() + (cellW - size.width()) / 2,
                           cell.y() + 4 + (cellH - 24 - size.height()) / 2, size.width(),
                           size.height());
        painter.drawPixmap(target, pixmap);
        const bool placeholder = ImageRegistry::Origin(names[i]) == ImageOrigin::Placeholder;
        painter.setPen(placeholder ? Qt::red : QColor(60, 60, 60));
        painter.drawText(QRect(cell.x(), cell.bottom() - 18, cellW, 16), Qt::AlignCenter, names[i]);
    }
    painter.end();
    const QString path = dir.filePath(QStringLiteral("pictures.png"));
    const bool ok = sheet.save(path);
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
    return ok;
}

// 10. The thumbnail grid: 150-point tiles with a thumbnail, a check box and
// the file's name; the second tile under the pointer, the sixth selected,
// the last two still showing the loading picture.
class GallerySource : public CNGridViewDataSource {
public:
    qint64 numberOfItemsInSection(CNGridView*, qint64) override { return 10; }
    CNGridViewItemBase* itemAtIndex(CNGridView* grid, qint64 index, qint64) override {
        auto* item = static_cast<CNGridViewItem*>(
            grid->dequeueReusableItemWithIdentifier(QLatin1String(kCNDefaultItemIdentifier)));
        if (item == nullptr) {
            item = new CNGridViewItem;
        }
        static const char* names[] = {
            "holiday_beach.jpg", "IMG_2041.JPG",
            "portrait.png",      "a very long name of a scanned receipt.tiff",
            "sunset.heic",       "DSC00017.ARW",
            "cat.gif",           "map.webp",
            "loading_1.jpg",     "loading_2.jpg"};
        item->titleLabel()->setText(QLatin1String(names[index]));
        item->itemButton()->setImageName(index % 3 == 0 ? QStringLiteral("pf_checkbox_yes")
                                                        : QStringLiteral("pf_checkbox_no"));
        if (index >= 8) {
            item->setItemImage(ImageRegistry::Pixmap(QStringLiteral("loading.png")).toImage());
        } else {
            item->setItemImage(Thumbnail(int(index)));
        }
        return item;
    }
    // A small landscape picture, wide or tall.
    static QImage Thumbnail(int i) {
        const QSize size = i % 2 == 0 ? QSize(120, 80) : QSize(60, 90);
        QImage image(size, QImage::Format_ARGB32);
        QLinearGradient sky(0, 0, 0, size.height());
        sky.setColorAt(0, QColor::fromHsv((i * 40) % 360, 120, 240));
        sky.setColorAt(1, QColor::fromHsv((i * 40 + 60) % 360, 160, 160));
        QPainter p(&image);
        p.fillRect(image.rect(), sky);
        p.setBrush(QColor(255, 230, 120));
        p.setPen(Qt::NoPen);
        p.drawEllipse(QPoint(size.width() * 2 / 3, size.height() / 3), 10, 10);
        p.setBrush(QColor(60, 110, 60));
        p.drawPolygon(
            QPolygon({QPoint(0, size.height()), QPoint(size.width() / 3, size.height() / 2),
                      QPoint(size.width() * 2 / 3, size.height()), QPoint(0, size.height())}));
        return image;
    }
};

bool ThumbnailGrid(const QDir& dir) {
    CNGridView::SetAnimationScale(0);
    GallerySource source;
    auto area = std::make_unique<QScrollArea>();
    area->setAttribute(Qt::WA_DontShowOnScreen);
    area->setFrameShape(QFrame::NoFrame);
    area->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    area->resize(640, 450);
    auto* grid = new CNGridView;
    grid->setDataSource(&source);
    area->setWidget(grid);
    area->show();
    grid->reloadData();
    for (int i = 0; i < 3; ++i) {
        QApplication::processEvents();
    }
    grid->hoverItemAtIndex(1);
    grid->selectItem(grid->visibleItemAtIndex(5));
    const bool ok = Save(area.get(), dir, "thumbnail_grid.png");
    CNGridView::SetAnimationScale(1);
    return ok;
}

// 11. The attached bubble carrying the deep-scan offer: white, rounded,
// below the point it is attached to; once plain, once with an arrow.
bool DeepScanBubble(const QDir& dir) {
    QImage page(760, 200, QImage::Format_ARGB32);
    page.fill(QColor(236, 238, 241));
    QPainter painter(&page);
    painter.setFont(FontRegistry::Font(QStringLiteral("Helvetica"), 12));
    painter.setPen(QColor(90, 90, 90));
    const char* captions[] = {"start values: no arrow, 10 points below the point",
                              "arrow 10 high, 20 wide, on the top edge"};
    for (int i = 0; i < 2; ++i) {
        auto* offer = new VKDeepScanViewController;
        std::unique_ptr<MAAttachedWindow> bubble(
            MAAttachedWindow::Create(offer, {200, 100}, nullptr, MAPositionBottom, 10));
        bubble->setAttribute(Qt::WA_DontShowOnScreen);
        if (i == 1) {
            bubble->setArrowHeight(10);
            bubble->setArrowBaseWidth(20);
        }
        bubble->show();
        QApplication::processEvents();
        const int x = 10 + i * 380;
        painter.drawText(x, 20, QLatin1String(captions[i]));
        // The point the bubble hangs from.
        const QPoint point(x + 180, 40);
        painter.setBrush(QColor(220, 60, 60));
        painter.drawEllipse(point, 3, 3);
        painter.drawImage(point.x() - bubble->width() / 2, point.y() + 10,
                          bubble->grab().toImage());
    }
    painter.end();
    const QString path = dir.filePath(QStringLiteral("deep_scan_bubble.png"));
    const bool ok = page.save(path);
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    MyNSApplication app(argc, argv);
    GalleryTexts texts;
    QCoreApplication::installTranslator(&texts);
    const QDir dir(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("widget_gallery"));
    if (!QDir().mkpath(dir.path())) {
        std::fprintf(stderr, "cannot make %s\n", qPrintable(dir.path()));
        return 1;
    }
    std::vector<std::unique_ptr<Node>> nodes;
    bool ok = TitleBarWindows(dir);
    ok = ImageButtons(dir) && ok;
    ok = ProgressStrips(dir) && ok;
    ok = ResultsTables(dir) && ok;
    ok = DiskOutline(dir) && ok;
    ok = CheckCells(dir, nodes) && ok;
    ok = CustomButtons(dir) && ok;
    ok = CellsAndGroup(dir) && ok;
    ok = ThumbnailGrid(dir) && ok;
    ok = DeepScanBubble(dir) && ok;
    ok = Pictures(dir) && ok;
    const QStringList missing = ImageRegistry::PlaceholderNamesAsked();
    if (!missing.isEmpty()) {
        std::fprintf(stderr, "pictures without a drawing: %s\n", qPrintable(missing.join(", ")));
        return 1;
    }
    return ok ? 0 : 1;
}
