#include "order/compare_rules.h"

namespace quarnel {

CompareRules compare_rules_of(const SortJob& job) {
  CompareRules rules;
  rules.wide = job.wide_mode;
  rules.ignore_case = job.ignore_case;
  rules.key_mode = job.key_mode;
  rules.reverse = job.reverse;
  if (job.key_mode) rules.conditions = job.conditions;
  return rules;
}

WholeLineForm whole_line_form(const CompareRules& rules) {
  if (rules.key_mode) return WholeLineForm::kNone;
  if (rules.wide) return WholeLineForm::kWide;
  return rules.ignore_case ? WholeLineForm::kNarrowFolded : WholeLineForm::kNarrow;
}

}  // namespace quarnel
