#pragma once

// The data-entry control lays its rows out in twips. Each placed widget keeps its twips rectangle
// (the pixel geometry is derived from it), so that sums of the layout constants stay exact and do
// not drift by a rounded pixel per row.

#include <QRectF>

class QWidget;

namespace dataentry {

// Places the widget at the twips rectangle (left, top, width, height).
void placeTwips(QWidget* w, double left, double top, double width, double height);
void placeTwips(QWidget* w, const QRectF& r);

// The twips rectangle last placed, or the pixel geometry converted when the widget was never placed.
QRectF twipsGeometry(const QWidget* w);

double twipsLeft(const QWidget* w);
double twipsTop(const QWidget* w);
double twipsWidth(const QWidget* w);
double twipsHeight(const QWidget* w);
void setTwipsTop(QWidget* w, double top);
void setTwipsLeft(QWidget* w, double left);
void setTwipsHeight(QWidget* w, double height);

}  // namespace dataentry
