#pragma once
// The ZelkorLogo control: the maker's logo block at a fixed 4500 by 1500
// twips. It has no properties of its own beyond the placement every control
// has (Left, Top, Width, Height, in twips).

#include <QWidget>

namespace logo {

class ZelkorLogo : public QWidget {
    Q_OBJECT
    Q_PROPERTY(float Left READ Left WRITE setLeft)
    Q_PROPERTY(float Top READ Top WRITE setTop)
    Q_PROPERTY(float Width READ Width WRITE setWidth)
    Q_PROPERTY(float Height READ Height WRITE setHeight)

public:
    explicit ZelkorLogo(QWidget* parent = nullptr);

    float Left() const;
    float Top() const;
    float Width() const;
    float Height() const;
    void setLeft(float twips);
    void setTop(float twips);
    // Each size write raises UserControl_Resize, as a container's resize does.
    void setWidth(float twips);
    void setHeight(float twips);

    QSize sizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    // Whatever size was asked for: width 4500, then height 1500, every time.
    void UserControl_Resize();
    void resizeWidth(float twips);
    void resizeHeight(float twips);

    bool inResize_ = false;
};

}  // namespace logo
