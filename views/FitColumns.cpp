#include "views/FitColumns.h"

#include <QFontMetrics>
#include <QHash>
#include <QHeaderView>
#include <QStyle>
#include <QTreeWidget>

#include <algorithm>
#include <vector>

namespace {

// The advance of each character of a font, asked once.
class Advances {
  public:
    explicit Advances(const QFont& font) : metrics_(font) {}
    const QFontMetrics& Metrics() const { return metrics_; }
    int Of(const QString& text) {
        int width = 0;
        for (const QChar c : text) {
            auto at = known_.find(c);
            if (at == known_.end()) {
                at = known_.insert(c, metrics_.horizontalAdvance(c));
            }
            width += *at;
        }
        return width;
    }

  private:
    QFontMetrics metrics_;
    QHash<QChar, int> known_;
};

struct Widest {
    int estimate = 0;  // the text's and its indent's
    int indent = 0;
    QString text;
    QFont font;
};

void Collect(QTreeWidgetItem& item, int depth, std::vector<Widest>& widest,
             std::vector<std::pair<QFont, Advances>>& byFont, QTreeWidget& tree) {
    if (!item.isFirstColumnSpanned()) {
        for (int c = 0; c < static_cast<int>(widest.size()); ++c) {
            const QFont font = item.font(c);
            auto known = std::find_if(byFont.begin(), byFont.end(),
                                      [&font](const auto& f) { return f.first == font; });
            if (known == byFont.end()) {
                known = byFont.insert(known, {font, Advances(font)});
            }
            Advances& advances = known->second;
            const int indent =
                c == 0 ? tree.indentation() * (depth + (tree.rootIsDecorated() ? 1 : 0)) : 0;
            const int estimate = advances.Of(item.text(c)) + indent;
            if (estimate > widest[c].estimate) {
                widest[c] = {estimate, indent, item.text(c), font};
            }
        }
    }
    for (int i = 0; i < item.childCount(); ++i) {
        Collect(*item.child(i), depth + 1, widest, byFont, tree);
    }
}

}  // namespace

void FitColumns(QTreeWidget& tree) {
    std::vector<Widest> widest(static_cast<std::size_t>(tree.columnCount()));
    std::vector<std::pair<QFont, Advances>> byFont;  // a tree has a font or two
    for (int i = 0; i < tree.topLevelItemCount(); ++i) {
        Collect(*tree.topLevelItem(i), 0, widest, byFont, tree);
    }
    // As the style pads an item's text on each side.
    const int margins =
        2 * (tree.style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, &tree) + 1);
    for (int c = 0; c < static_cast<int>(widest.size()); ++c) {
        const Widest& w = widest[c];
        const int text =
            std::max(w.estimate, QFontMetrics(w.font).horizontalAdvance(w.text) + w.indent);
        tree.header()->resizeSection(c,
                                     std::max(text + margins, tree.header()->sectionSizeHint(c)));
    }
}
