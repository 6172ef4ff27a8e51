// Interned names that more than one source file uses, declared once.
#pragma once

#include "ref.hpp"

namespace lark {

inline const Name s_Path{"Path"};
inline const Name s_Policy{"Policy"};
inline const Name s_QPointF{"QPointF"};
inline const Name s_QSizePolicy{"QSizePolicy"};
inline const Name s_QTabWidget{"QTabWidget"};
inline const Name s_QVBoxLayout{"QVBoxLayout"};
inline const Name s_QValueAxis{"QValueAxis"};
inline const Name s_QWidget{"QWidget"};
inline const Name s_QXYSeries{"QXYSeries"};
inline const Name s_Qt{"Qt"};
inline const Name s_addWidget{"addWidget"};
inline const Name s_ceil{"ceil"};
inline const Name s_chart{"chart"};
inline const Name s_clear{"clear"};
inline const Name s_count{"count"};
inline const Name s_dtype{"dtype"};
inline const Name s_empty{"empty"};
inline const Name s_findChild{"findChild"};
inline const Name s_float64{"float64"};
inline const Name s_history{"history"};
inline const Name s_isVisible{"isVisible"};
inline const Name s_last_snapshot_data{"last_snapshot_data"};
inline const Name s_last_snapshot_offset{"last_snapshot_offset"};
inline const Name s_last_x{"last_x"};
inline const Name s_layout{"layout"};
inline const Name s_math{"math"};
inline const Name s_max{"max"};
inline const Name s_min{"min"};
inline const Name s_parent{"parent"};
inline const Name s_plotArea{"plotArea"};
inline const Name s_replace{"replace"};
inline const Name s_replaceNp{"replaceNp"};
inline const Name s_setLabelFormat{"setLabelFormat"};
inline const Name s_setLayout{"setLayout"};
inline const Name s_setMinimumSize{"setMinimumSize"};
inline const Name s_setRange{"setRange"};
inline const Name s_setSizePolicy{"setSizePolicy"};
inline const Name s_setVisible{"setVisible"};
inline const Name s_width{"width"};

}  // namespace lark
