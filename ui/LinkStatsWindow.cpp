#include "LinkStatsWindow.h"

#include <QClipboard>
#include <QDateTime>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <array>

#include "FrameLog.h"
#include "Func.h"
#include "LinkStats.h"
#include "Seam.h"

namespace {

// A few times a second while shown: polls may come every few milliseconds,
// the figures need not follow each one.
constexpr int RefreshMs = 250;
// Wide enough for the advice to take few lines.
constexpr int DefaultWidth = 640;

QString LinkState() {
    return LinkStateLine(LinkStats::global().counts());
}

} // namespace

TLinkStats::TLinkStats(QWidget* owner)
    : QWidget(owner, Qt::Window), lbLinkState(new QLabel(this)), lbAdvice(new QLabel(this)),
      btReset(new QPushButton(QStringLiteral("Сбросить"), this)),
      btCopy(new QPushButton(QStringLiteral("Копировать"), this)),
      btMonitor(new QPushButton(QStringLiteral("Монитор обмена..."), this)) {
    setObjectName(QStringLiteral("TLinkStats"));
    setWindowTitle(QStringLiteral("Статистика связи"));
    lbLinkState->setObjectName(QStringLiteral("lbLinkState"));
    lbAdvice->setObjectName(QStringLiteral("lbAdvice"));
    btReset->setObjectName(QStringLiteral("btReset"));
    btCopy->setObjectName(QStringLiteral("btCopy"));
    btMonitor->setObjectName(QStringLiteral("btMonitor"));
    // The frames behind the figures; off with a library that cannot show them.
    btMonitor->setEnabled(FrameLog::global().available());
    btMonitor->setToolTip(FrameLog::global().unavailableReason());
    // The port's name comes from the settings file.
    lbLinkState->setTextFormat(Qt::PlainText);
    lbAdvice->setTextFormat(Qt::PlainText);
    lbAdvice->setWordWrap(true);
    lbAdvice->setTextInteractionFlags(Qt::TextSelectableByMouse);

    // The groups of figures in two columns, each group going where the
    // column is shorter; the rows are filled in by showFigures().
    auto* columns = new QHBoxLayout;
    std::array<QVBoxLayout*, 2> column = {new QVBoxLayout, new QVBoxLayout};
    std::array<std::size_t, 2> height = {0, 0};
    for (const LinkFigureGroup& g : LinkFigures(LinkStats::global().counts())) {
        const std::size_t i = height[1] < height[0] ? 1 : 0;
        height[i] += g.figures.size() + 2;
        auto* box = new QGroupBox(g.title, this);
        auto* grid = new QGridLayout(box);
        grid->setColumnStretch(0, 1);
        grid->setHorizontalSpacing(18);
        column[i]->addWidget(box);
        groups_.push_back({box, grid, {}});
    }
    for (QVBoxLayout* c : column) {
        c->addStretch(1);
        columns->addLayout(c, 1);
    }

    auto* adviceBox = new QGroupBox(QStringLiteral("Что это значит"), this);
    (new QVBoxLayout(adviceBox))->addWidget(lbAdvice);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(btMonitor);
    buttons->addStretch(1);
    buttons->addWidget(btReset);
    buttons->addWidget(btCopy);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lbLinkState);
    layout->addLayout(columns);
    layout->addWidget(adviceBox);
    layout->addLayout(buttons);

    connect(btReset, &QPushButton::clicked, this, seam::Guarded(this, &TLinkStats::btResetClick));
    connect(btCopy, &QPushButton::clicked, this, seam::Guarded(this, &TLinkStats::btCopyClick));
    connect(btMonitor, &QPushButton::clicked, this,
            seam::Guarded(this, &TLinkStats::btMonitorClick));
    connect(&refresh_, &QTimer::timeout, this, &TLinkStats::refresh);
    refresh_.setInterval(RefreshMs);
    refresh();
    const int width = std::max(DefaultWidth, sizeHint().width());
    resize(width, layout->totalHeightForWidth(width));
    btCopy->setFocus(); // not the reset: a stray Space must not clear the figures
}

void TLinkStats::open() {
    if (isMinimized())
        showNormal();
    show();
    raise();
    activateWindow();
}

void TLinkStats::showEvent(QShowEvent* event) {
    refresh();
    refresh_.start();
    QWidget::showEvent(event);
}

void TLinkStats::hideEvent(QHideEvent* event) {
    refresh_.stop();
    QWidget::hideEvent(event);
}

void TLinkStats::refresh() {
    const QString state = LinkState();
    if (LinkStats::global().changes() == shownChanges_ && lbLinkState->text() == state)
        return;
    lbLinkState->setText(state);
    showFigures();
}

void TLinkStats::showFigures() {
    const LinkCounts& c = LinkStats::global().counts();
    shownChanges_ = LinkStats::global().changes();
    const std::vector<LinkFigureGroup> figures = LinkFigures(c);
    for (std::size_t g = 0; g < groups_.size() && g < figures.size(); ++g) {
        Group& group = groups_[g];
        const auto& rows = figures[g].figures;
        while (group.rows.size() < rows.size()) {
            auto* name = new QLabel(group.box);
            auto* value = new QLabel(group.box);
            name->setTextFormat(Qt::PlainText);
            value->setTextFormat(Qt::PlainText);
            value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
            const int row = static_cast<int>(group.rows.size());
            group.grid->addWidget(name, row, 0);
            group.grid->addWidget(value, row, 1);
            group.rows.emplace_back(name, value);
        }
        for (std::size_t r = 0; r < group.rows.size(); ++r) {
            const bool used = r < rows.size();
            group.rows[r].first->setVisible(used);
            group.rows[r].second->setVisible(used);
            if (used) {
                group.rows[r].first->setText(rows[r].name);
                group.rows[r].second->setText(rows[r].value);
            }
        }
    }
    lbAdvice->setText(LinkAdvice(c).join(QLatin1Char('\n')));
}

void TLinkStats::btResetClick() {
    LinkStats::global().reset();
    refresh();
}

void TLinkStats::btMonitorClick() {
    if (openMonitor)
        openMonitor();
}

void TLinkStats::btCopyClick() {
    const QString when =
        QDateTime::currentDateTime().toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"));
    QGuiApplication::clipboard()->setText(
        LinkReport(LinkStats::global().counts(), LinkState(), when));
}
