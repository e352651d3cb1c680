#pragma once
// How each setting is entered and checked: the kind of field the settings dialog shows it in
// (a check box, a spin field with its range, a choice, a number with its decimals, a text),
// the message its validation gives, and the conversion of a typed text into the record. The
// dialog and `noctarbel-cli settings --set` check a value by the same rules.

#include <optional>
#include <string>
#include <vector>

#include "station/settings.h"

namespace noctarbel {

enum class SettingEntry { Check, Spin, Radio, General, Fixed1, Fixed2, Fixed5, IntText, Text, Profile };

struct SettingRule {
  const char* Key;
  SettingEntry Entry;
  // Spin: the field's range; Radio: 0 .. the number of choices - 1.
  int Min = 0;
  int Max = 0;
};

// Every setting the dialog shows, in the dialog's order.
const std::vector<SettingRule>& SettingRules();
// Case-insensitive; nullptr for a key the dialog does not show.
const SettingRule* FindSettingRule(const std::string& key);

// The fields OK validates, in its order, with the message a wrong text gives.
struct ValidatedSetting {
  const char* Key;
  const char* Message;
};
const std::vector<ValidatedSetting>& ValidatedSettings();
const ValidatedSetting* FindValidatedSetting(const std::string& key);

// A validated field's text into its key: integer keys need an integer, the others a number;
// single-precision keys must fit a float. False (the record unchanged) otherwise.
bool StoreValidated(SettingsRecord& settings, const SettingKey& key, const std::string& text);
// The value as the dialog shows it in a field of this entry.
std::string ShowSettingText(const SettingsRecord& settings, const SettingKey& key, SettingEntry entry);

// An integer or yes/no setting as a number, and back.
int IntSetting(const SettingsRecord& settings, const SettingKey& key);
void SetIntSetting(SettingsRecord& settings, const SettingKey& key, int value);

// The angles of the site and the mount's positions that lie outside their ranges (as a
// hand-edited file may hold them) are replaced by their defaults; a line for each says which
// stored value was replaced.
std::vector<std::string> ReplaceAnglesOutOfRange(SettingsRecord& settings);

// Converts and checks one setting given as text, as the dialog would (its validation message
// or the field's range); a value the dialog would show or keep differently (more decimals
// than it shows, blanks around a text, a key the loader never reads) is refused too. On
// success stores it in the record; otherwise returns the message and leaves the record as it
// was.
std::optional<std::string> SetSettingChecked(SettingsRecord& settings, const std::string& key,
                                             const std::string& text);

}  // namespace noctarbel
