#pragma once
// The four-panel status bar along the bottom of the window. Panels are
// numbered from 1; each has a width and a minimum width (twips), a text, a
// tooltip text shown when the pointer rests on it, and an optional picture.
// A new text is painted at the next pass of the event loop; the waits on the
// device run one, so it shows while they last.
//
// The panels take the keyboard focus one by one (Tab, Shift+Tab, the arrow
// keys), Return, Enter and Space on the focused one do what a click does, and
// each panel is an object of its own for assistive technology, which is told
// when its text changes.
//
// The panels are described in the window's .ui file through the list
// properties below (one entry per panel, in order).

#include <QPixmap>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <memory>
#include <vector>

class StatusBar;

class StatusPanel {
public:
    StatusPanel(StatusBar& bar, int index) : bar_(bar), index_(index) {}
    StatusPanel(const StatusPanel&) = delete;
    StatusPanel& operator=(const StatusPanel&) = delete;

    int Index() const { return index_; }

    QString Text() const { return text_; }
    void setText(const QString& text);

    QString ToolTipText() const { return toolTipText_; }
    void setToolTipText(const QString& text);

    // Twips. A panel is drawn at least this wide (and at least MinWidth), and
    // wider when its picture and text need more.
    float Width() const { return width_; }
    void setWidth(float twips);
    float MinWidth() const { return minWidth_; }
    void setMinWidth(float twips);

    const QPixmap& Picture() const { return picture_; }
    void setPicture(const QPixmap& picture);

    // The key that does what a click does, said in the tooltip after the
    // tooltip text; not part of ToolTipText.
    QString KeyHint() const { return keyHint_; }
    void setKeyHint(const QString& hint) { keyHint_ = hint; }
    // What the tooltip shows: the tooltip text, then the key.
    QString shownToolTip() const;

private:
    StatusBar& bar_;
    int index_;
    QString text_;
    QString toolTipText_;
    float width_ = 1440;
    float minWidth_ = 0;
    QPixmap picture_;
    QString keyHint_;
};

class StatusBar : public QWidget {
    Q_OBJECT
    // The description of the panels, one entry per panel.
    Q_PROPERTY(QStringList panelWidths READ panelWidths WRITE setPanelWidths)
    Q_PROPERTY(QStringList panelMinWidths READ panelMinWidths WRITE setPanelMinWidths)
    Q_PROPERTY(QStringList panelTexts READ panelTexts WRITE setPanelTexts)
    Q_PROPERTY(QStringList panelToolTipTexts READ panelToolTipTexts WRITE setPanelToolTipTexts)
    // Resource paths of the pictures; an empty entry means no picture.
    Q_PROPERTY(QStringList panelPictures READ panelPictures WRITE setPanelPictures)

public:
    explicit StatusBar(QWidget* parent = nullptr);
    ~StatusBar() override;

    // Panel by number, 1 to Count(); nullptr outside that range.
    StatusPanel* Panels(int index) const;
    int Count() const { return static_cast<int>(panels_.size()); }

    // The panel under a point of the bar, or nullptr.
    StatusPanel* panelAt(const QPoint& position) const;
    // Where panel n is drawn, in pixels of the bar.
    QRect panelRect(int index) const;

    // What a click on panel n does, for the keyboard and assistive technology.
    void clickPanel(int index);
    // The panel that has the keyboard focus, or would have it next (1 to Count()).
    int currentPanel() const { return current_; }

    // Keeps the bar along the bottom edge of its parent at full width.
    void dock();

    QStringList panelWidths() const;
    void setPanelWidths(const QStringList& twips);
    QStringList panelMinWidths() const;
    void setPanelMinWidths(const QStringList& twips);
    QStringList panelTexts() const;
    void setPanelTexts(const QStringList& texts);
    QStringList panelToolTipTexts() const;
    void setPanelToolTipTexts(const QStringList& texts);
    QStringList panelPictures() const { return picturePaths_; }
    void setPanelPictures(const QStringList& paths);

    QSize sizeHint() const override;

signals:
    void PanelClick(StatusPanel* panel);

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    // A double-click is one click: its second press starts nothing.
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    // Tab moves from panel to panel before it leaves the bar.
    bool focusNextPrevChild(bool next) override;

private:
    friend class StatusPanel;
    void ensurePanels(qsizetype count);
    int contentWidth(const StatusPanel& panel) const;
    void panelChanged();
    void panelRenamed(const StatusPanel& panel);
    void setCurrentPanel(int index);

    std::vector<std::unique_ptr<StatusPanel>> panels_;
    QStringList picturePaths_;
    StatusPanel* pressed_ = nullptr;
    int current_ = 1;
};
