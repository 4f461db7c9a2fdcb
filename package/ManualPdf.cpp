// Makes the technician's manual, one A4 PDF in Russian, from the Markdown
// chapters in docs/manual, in the order their list chapters.txt gives:
//
//   qs730-manual-pdf <chapters.txt> <version> <output.pdf>
//
// The first page holds the title and the contents; each chapter starts on a
// page of its own; every page ends in the program's name and version and
// "Стр. n из m". Pictures come from the chapters' own references
// (![...](../screenshots/x.png)) and are made no wider than the text.
//
// The build fails, naming the file, when a listed chapter is missing, a
// chapter in the folder is left out of the list, a chapter does not start
// with its "# " heading, a picture is missing or the font is not installed.
#include <QAbstractTextDocumentLayout>
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextTable>
#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace {

const QString FontFamily = QStringLiteral("DejaVu Sans");
const QString Title = QStringLiteral("Руководство пользователя");

[[noreturn]] void Fail(const QString& text) {
    throw std::runtime_error(text.toStdString());
}

// The chapters' file names in their order: one a line; blank lines and lines
// starting with "#" do not count.
QStringList ReadChapterList(const QString& listPath) {
    QFile list(listPath);
    if (!list.open(QIODevice::ReadOnly | QIODevice::Text))
        Fail(QStringLiteral("cannot read the chapter list %1").arg(listPath));
    QStringList names;
    for (const QString& line : QString::fromUtf8(list.readAll()).split(QLatin1Char('\n'))) {
        const QString name = line.trimmed();
        if (!name.isEmpty() && !name.startsWith(QLatin1Char('#')))
            names << name;
    }
    if (names.isEmpty())
        Fail(QStringLiteral("the chapter list %1 names no chapter").arg(listPath));
    return names;
}

// The chapters' text, one after the other, each checked.
QString ReadChapters(const QDir& folder, const QString& listPath, const QStringList& names) {
    const QString listName = QFileInfo(listPath).fileName();
    for (const QString& file : folder.entryList({QStringLiteral("*.md")}, QDir::Files))
        if (!names.contains(file))
            Fail(QStringLiteral("%1 is not in %2: add it where it belongs in the manual")
                     .arg(folder.filePath(file), listName));
    QString text;
    for (const QString& name : names) {
        QFile chapter(folder.filePath(name));
        if (!chapter.open(QIODevice::ReadOnly | QIODevice::Text))
            Fail(QStringLiteral("%1, listed in %2, is missing").arg(chapter.fileName(), listName));
        const QString body = QString::fromUtf8(chapter.readAll());
        if (!body.trimmed().startsWith(QLatin1String("# ")))
            Fail(QStringLiteral("%1 does not start with its heading (\"# ...\")")
                     .arg(chapter.fileName()));
        text += body + QStringLiteral("\n\n");
    }
    return text;
}

// The heading of each chapter: its text and its block.
struct Heading {
    QString text;
    QTextBlock block;
};

// Space above the headings, in points; every chapter but the first starts
// on a new page. Returns the chapters' headings.
QList<Heading> FormatHeadings(QTextDocument& doc, qreal pixelsPerPoint) {
    QList<Heading> headings;
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        const int level = block.blockFormat().headingLevel();
        if (level == 0)
            continue;
        QTextBlockFormat format = block.blockFormat();
        format.setTopMargin((level == 1 ? 0 : level == 2 ? 12 : 8) * pixelsPerPoint);
        format.setBottomMargin((level == 1 ? 10 : 4) * pixelsPerPoint);
        if (level == 1 && !headings.isEmpty())
            format.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
        QTextCursor(block).setBlockFormat(format);
        if (level == 1)
            headings.append({block.text(), block});
    }
    return headings;
}

// Screenshots at three quarters of their size on the screen, about as large
// as the windows look on a laptop's display.
constexpr qreal ScreenshotScale = 0.75;

// Loads each picture from the chapters' folder and makes it no wider than
// `maxWidth` (in pixels at 96 dpi, the unit of the document's pictures).
void PlacePictures(QTextDocument& doc, const QDir& folder, qreal maxWidth) {
    struct Picture {
        int position;
        int length;
        QTextImageFormat format;
    };
    QList<Picture> pictures;
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next())
        for (auto it = block.begin(); !it.atEnd(); ++it)
            if (it.fragment().charFormat().isImageFormat())
                pictures.append({it.fragment().position(), it.fragment().length(),
                                 it.fragment().charFormat().toImageFormat()});
    for (Picture& picture : pictures) {
        const QString path = QDir::cleanPath(folder.filePath(picture.format.name()));
        const QImage image(path);
        if (image.isNull())
            Fail(QStringLiteral("picture %1 is missing or unreadable").arg(path));
        doc.addResource(QTextDocument::ImageResource, QUrl(picture.format.name()), image);
        const qreal scale = std::min<qreal>(ScreenshotScale, maxWidth / image.width());
        picture.format.setWidth(image.width() * scale);
        picture.format.setHeight(image.height() * scale);
        QTextCursor cursor(&doc);
        cursor.setPosition(picture.position);
        cursor.setPosition(picture.position + picture.length, QTextCursor::KeepAnchor);
        cursor.setCharFormat(picture.format);
    }
}

// Code blocks (file contents, commands) on a light ground, wrapped where a
// line is longer than the page is wide.
void ShadeCode(QTextDocument& doc, qreal pixelsPerPoint) {
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        QTextBlockFormat format = block.blockFormat();
        if (!format.nonBreakableLines())
            continue;
        format.setNonBreakableLines(false);
        format.setBackground(QColor(0xf0, 0xf0, 0xf0));
        format.setLeftMargin(format.leftMargin() + 4 * pixelsPerPoint);
        QTextCursor(block).setBlockFormat(format);
    }
}

// Tables with thin ruled cells across the text's width.
void RuleTables(QTextDocument& doc, qreal pixelsPerPoint) {
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        QTextCursor cursor(block);
        QTextTable* table = cursor.currentTable();
        if (!table || table->firstPosition() != block.position())
            continue;
        QTextTableFormat format = table->format();
        format.setBorder(0.5 * pixelsPerPoint);
        format.setBorderStyle(QTextFrameFormat::BorderStyle_Solid);
        format.setBorderBrush(Qt::gray);
        format.setBorderCollapse(true);
        format.setCellPadding(2 * pixelsPerPoint);
        format.setCellSpacing(0);
        format.setWidth(QTextLength(QTextLength::PercentageLength, 100));
        table->setFormat(format);
    }
}

class Pages {
  public:
    Pages(QPdfWriter& pdf, QTextDocument& doc, const QString& footer)
        : pdf_(pdf), doc_(doc), painter_(&pdf), footer_(footer) {
        painter_.setFont(QFont(FontFamily, 8));
        footerHeight_ = painter_.fontMetrics().height() * 3;
        doc_.documentLayout()->setPaintDevice(&pdf_);
        doc_.setDocumentMargin(0);
        doc_.setPageSize(QSizeF(pdf_.width(), pdf_.height() - footerHeight_));
        total_ = doc_.pageCount() + 1;
    }

    // The page a block is drawn on, the title page being page 1.
    int pageOf(const QTextBlock& block) const {
        // A chapter's heading starts its page: its top is a page's top, give
        // or take the rounding of the layout.
        const qreal top = doc_.documentLayout()->blockBoundingRect(block).top() + 1;
        return int(top / doc_.pageSize().height()) + 2;
    }

    void titlePage(const QString& version, const QList<Heading>& headings) {
        const int width = pdf_.width();
        int y = pdf_.height() / 8;
        auto line = [&](const QString& text, int points, bool bold, Qt::Alignment align) {
            QFont font(FontFamily, points);
            font.setBold(bold);
            painter_.setFont(font);
            const int height = painter_.fontMetrics().height();
            painter_.drawText(QRect(0, y, width, height), int(align), text);
            y += height * 3 / 2;
        };
        line(QStringLiteral("QS730_View"), 28, true, Qt::AlignHCenter);
        line(QStringLiteral("Сервисная программа модуля аналогового ввода QS-730"), 13, false,
             Qt::AlignHCenter);
        line(Title, 20, true, Qt::AlignHCenter);
        line(QStringLiteral("Версия ") + version, 12, false, Qt::AlignHCenter);
        y += pdf_.height() / 12;
        line(QStringLiteral("Содержание"), 14, true, Qt::AlignLeft);
        for (const Heading& heading : headings) {
            const int before = y;
            line(heading.text, 11, false, Qt::AlignLeft);
            y = before;
            line(QString::number(pageOf(heading.block)), 11, false, Qt::AlignRight);
            y = before + painter_.fontMetrics().height() * 5 / 4;
        }
        footer(1);
    }

    void chapters() {
        const QSizeF page = doc_.pageSize();
        for (int i = 0; i < doc_.pageCount(); ++i) {
            pdf_.newPage();
            painter_.save();
            painter_.translate(0, -i * page.height());
            QAbstractTextDocumentLayout::PaintContext context;
            context.clip = QRectF(QPointF(0, i * page.height()), page);
            painter_.setClipRect(context.clip);
            doc_.documentLayout()->draw(&painter_, context);
            painter_.restore();
            footer(i + 2);
        }
        painter_.end();
    }

  private:
    void footer(int page) {
        painter_.setFont(QFont(FontFamily, 8));
        const QRect area(0, pdf_.height() - painter_.fontMetrics().height(), pdf_.width(),
                         painter_.fontMetrics().height());
        painter_.drawText(area, Qt::AlignLeft, footer_);
        painter_.drawText(area, Qt::AlignRight,
                          QStringLiteral("Стр. %1 из %2").arg(page).arg(total_));
    }

    QPdfWriter& pdf_;
    QTextDocument& doc_;
    QPainter painter_;
    QString footer_;
    int footerHeight_ = 0;
    int total_ = 0;
};

QByteArray MakeManual(const QString& listPath, const QString& version) {
    if (!QFontDatabase::hasFamily(FontFamily))
        Fail(QStringLiteral("the font \"%1\" is not installed (Debian: fonts-dejavu-core)")
                 .arg(FontFamily));
    const QDir folder = QFileInfo(listPath).absoluteDir();
    const QString text = ReadChapters(folder, listPath, ReadChapterList(listPath));

    QBuffer out;
    out.open(QIODevice::WriteOnly);
    QPdfWriter pdf(&out);
    pdf.setPageSize(QPageSize(QPageSize::A4));
    pdf.setPageMargins(QMarginsF(20, 15, 15, 15), QPageLayout::Millimeter);
    pdf.setResolution(300);
    const qreal pixelsPerPoint = pdf.resolution() / 72.0;
    QTextDocument doc;
    doc.setDefaultFont(QFont(FontFamily, 10));
    doc.setMarkdown(text, QTextDocument::MarkdownDialectGitHub);
    const QList<Heading> headings = FormatHeadings(doc, pixelsPerPoint);
    RuleTables(doc, pixelsPerPoint);
    ShadeCode(doc, pixelsPerPoint);
    QTextOption wrap = doc.defaultTextOption();
    wrap.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    doc.setDefaultTextOption(wrap);
    const QString title = QStringLiteral("QS730_View. ") + Title;
    pdf.setTitle(title);
    pdf.setCreator(QStringLiteral("QS730_View ") + version);
    PlacePictures(doc, folder, pdf.width() * 96.0 / pdf.resolution());

    Pages pages(pdf, doc, title + QStringLiteral(". Версия ") + version);
    pages.titlePage(version, headings);
    pages.chapters();
    return out.data();
}

} // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s <chapters.txt> <version> <output.pdf>\n", argv[0]);
        return 2;
    }
    const QString output = QString::fromLocal8Bit(argv[3]);
    try {
        const QByteArray bytes =
            MakeManual(QString::fromLocal8Bit(argv[1]), QString::fromLocal8Bit(argv[2]));
        QSaveFile file(output);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
            Fail(QStringLiteral("cannot write %1").arg(output));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "manual: %s\n", e.what());
        return 1;
    }
    return 0;
}
