// Interned names that more than one source file uses, declared once.
#pragma once

#include "ref.hpp"

namespace lark {

inline const Name s_Expanding{"Expanding"};
inline const Name s_Path{"Path"};
inline const Name s_Policy{"Policy"};
inline const Name s_QChart{"QChart"};
inline const Name s_QChartView{"QChartView"};
inline const Name s_QColor{"QColor"};
inline const Name s_QGuiApplication{"QGuiApplication"};
inline const Name s_QLineSeries{"QLineSeries"};
inline const Name s_QObject{"QObject"};
inline const Name s_QPen{"QPen"};
inline const Name s_QPointF{"QPointF"};
inline const Name s_QQmlComponent{"QQmlComponent"};
inline const Name s_QQmlListReference{"QQmlListReference"};
inline const Name s_QQuickWindow{"QQuickWindow"};
inline const Name s_QScatterSeries{"QScatterSeries"};
inline const Name s_QSizePolicy{"QSizePolicy"};
inline const Name s_QTabWidget{"QTabWidget"};
inline const Name s_QUrl{"QUrl"};
inline const Name s_QVBoxLayout{"QVBoxLayout"};
inline const Name s_QValueAxis{"QValueAxis"};
inline const Name s_QWidget{"QWidget"};
inline const Name s_QXYSeries{"QXYSeries"};
inline const Name s_Qt{"Qt"};
inline const Name s_addWidget{"addWidget"};
inline const Name s_append{"append"};
inline const Name s_axisX{"axisX"};
inline const Name s_axisY{"axisY"};
inline const Name s_ceil{"ceil"};
inline const Name s_chart{"chart"};
inline const Name s_children{"children"};
inline const Name s_clear{"clear"};
inline const Name s_color{"color"};
inline const Name s_connect{"connect"};
inline const Name s_count{"count"};
inline const Name s_create{"create"};
inline const Name s_destroyed{"destroyed"};
inline const Name s_dtype{"dtype"};
inline const Name s_empty{"empty"};
inline const Name s_entries{"entries"};
inline const Name s_errorString{"errorString"};
inline const Name s_findChild{"findChild"};
inline const Name s_float64{"float64"};
inline const Name s_font{"font"};
inline const Name s_height{"height"};
inline const Name s_history{"history"};
inline const Name s_isValid{"isValid"};
inline const Name s_isVisible{"isVisible"};
inline const Name s_labelFormat{"labelFormat"};
inline const Name s_last_snapshot_data{"last_snapshot_data"};
inline const Name s_last_snapshot_offset{"last_snapshot_offset"};
inline const Name s_last_x{"last_x"};
inline const Name s_layout{"layout"};
inline const Name s_math{"math"};
inline const Name s_max{"max"};
inline const Name s_metaObject{"metaObject"};
inline const Name s_min{"min"};
inline const Name s_missing_head{"找不到 QWidget(objectName='"};
inline const Name s_missing_tail{"')"};
inline const Name s_parent{"parent"};
inline const Name s_partial{"partial"};
inline const Name s_plotArea{"plotArea"};
inline const Name s_property{"property"};
inline const Name s_replace{"replace"};
inline const Name s_replaceNp{"replaceNp"};
inline const Name s_sceneGraphBackend{"sceneGraphBackend"};
inline const Name s_setAxisX{"setAxisX"};
inline const Name s_setAxisY{"setAxisY"};
inline const Name s_setColor{"setColor"};
inline const Name s_setData{"setData"};
inline const Name s_setLabelFormat{"setLabelFormat"};
inline const Name s_setLayout{"setLayout"};
inline const Name s_setMinimumSize{"setMinimumSize"};
inline const Name s_setName{"setName"};
inline const Name s_setParent{"setParent"};
inline const Name s_setPen{"setPen"};
inline const Name s_setProperty{"setProperty"};
inline const Name s_setRange{"setRange"};
inline const Name s_setSizePolicy{"setSizePolicy"};
inline const Name s_setStyle{"setStyle"};
inline const Name s_setText{"setText"};
inline const Name s_setTitleText{"setTitleText"};
inline const Name s_setVisible{"setVisible"};
inline const Name s_software{"software"};
inline const Name s_theme{"theme"};
inline const Name s_width{"width"};
inline const Name s_x{"x"};

}  // namespace lark
