// src/metadata/XMPProperty.cpp: one property of an XMP schema, its kind, value and sub-properties.
#include <algorithm>
#include <climits>
#include <string>
#include <string_view>
#include <vector>

#include "common/AsciiText.h"
#include "metadata/XMPPacket.h"

namespace zeloro {

namespace {

[[nodiscard]] std::string SubPropName(std::size_t index) { return "SubProp" + std::to_string(index); }

// Parts between "," and ";"; an empty part after a final separator is not an item.
[[nodiscard]] std::vector<std::string_view> SplitItems(std::string_view value) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    while (start < value.size()) {
        const std::size_t sep = value.find_first_of(",;", start);
        if (sep == std::string_view::npos) {
            parts.push_back(value.substr(start));
            break;
        }
        parts.push_back(value.substr(start, sep - start));
        start = sep + 1;
    }
    return parts;
}

}  // namespace

TXMPProperty::TXMPProperty(TXMPSchema& schema, TXMPProperty* parentProperty, std::string name)
    : FName(std::move(name)), FParentProperty(parentProperty), FSchema(&schema) {}

TXMPProperty::~TXMPProperty() = default;

void TXMPProperty::Changed() {
    TXMPProperty* top = this;
    while (top->FParentProperty != nullptr) {
        top = top->FParentProperty;
    }
    top->FSourceXML.clear();
    FSchema->Changed();
}

void TXMPProperty::SetKind(TXMPPropertyKind value) {
    if (value == FKind) {
        return;
    }
    FKind = value;
    if (FKind == xpSimple) {
        FSubProperties.clear();
    } else if (FKind == xpBagArray || FKind == xpSeqArray) {
        for (const auto& sub : FSubProperties) {
            sub->FName.clear();
        }
    } else {
        for (std::size_t i = 0; i < FSubProperties.size(); ++i) {
            if (FSubProperties[i]->FName.empty()) {
                FSubProperties[i]->FName = SubPropName(i);
            }
        }
    }
    Changed();
}

void TXMPProperty::SetName(std::string_view value) {
    if (value == FName) {
        return;
    }
    FName = std::string(value);
    Changed();
}

void TXMPProperty::SetSubPropertyCount(int value) {
    if (FKind == xpSimple) {
        throw EInvalidXMPOperation(kXMPNoSubProperties);
    }
    const std::size_t wanted = value < 0 ? 0 : static_cast<std::size_t>(value);
    if (wanted == FSubProperties.size()) {
        return;
    }
    if (wanted < FSubProperties.size()) {
        FSubProperties.resize(wanted);
    } else {
        FSubProperties.reserve(wanted);
        while (FSubProperties.size() < wanted) {
            std::string name = NeedsNamedItems() ? SubPropName(FSubProperties.size()) : std::string();
            FSubProperties.push_back(std::make_unique<TXMPProperty>(*FSchema, this, std::move(name)));
        }
    }
    Changed();
}

TXMPProperty& TXMPProperty::SubProperties(int index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= FSubProperties.size()) {
        throw RangeError();
    }
    return *FSubProperties[static_cast<std::size_t>(index)];
}

TXMPProperty& TXMPProperty::AddSubProperty(std::string_view name) {
    if (FKind == xpSimple) {
        throw EInvalidXMPOperation(kXMPNoSubProperties);
    }
    if (name.empty() && NeedsNamedItems()) {
        throw EInvalidXMPOperation(kXMPSubPropertiesMustBeNamed);
    }
    FSubProperties.push_back(std::make_unique<TXMPProperty>(*FSchema, this, std::string(name)));
    TXMPProperty& added = *FSubProperties.back();
    Changed();
    return added;
}

TXMPProperty* TXMPProperty::FindSubProperty(std::string_view name) const {
    if (FKind == xpSimple) {
        throw EInvalidXMPOperation(kXMPNoSubProperties);
    }
    for (const auto& sub : FSubProperties) {
        if (sub->FName == name) {
            return sub.get();
        }
    }
    return nullptr;
}

bool TXMPProperty::FindSubProperty(std::string_view name, TXMPProperty*& prop) const {
    prop = FindSubProperty(name);
    return prop != nullptr;
}

bool TXMPProperty::RemoveSubProperty(std::string_view name) {
    if (FKind == xpSimple) {
        throw EInvalidXMPOperation(kXMPNoSubProperties);
    }
    const auto pos = std::find_if(FSubProperties.begin(), FSubProperties.end(),
                                  [name](const auto& sub) { return sub->FName == name; });
    if (pos == FSubProperties.end()) {
        return false;
    }
    FSubProperties.erase(pos);
    Changed();
    return true;
}

std::string TXMPProperty::ReadValue(std::string_view defValue) const {
    if (FKind == xpSimple) {
        return FValue.empty() ? std::string(defValue) : FValue;
    }
    if (FKind == xpAltArray) {
        for (const auto& sub : FSubProperties) {
            if (sub->FName == "x-default" && sub->FKind == xpSimple && !sub->FValue.empty()) {
                return sub->FValue;
            }
        }
    }
    return std::string(defValue);
}

int TXMPProperty::ReadValue(int defValue) const {
    return ParseInteger<int>(ReadValue(std::string_view{})).value_or(defValue);
}

bool TXMPProperty::ReadValue(bool defValue) const {
    const std::string text = ReadValue(std::string_view{});
    if (SameTextAscii(text, "True")) {
        return true;
    }
    if (SameTextAscii(text, "False")) {
        return false;
    }
    const int number = ReadValue(INT_MIN);
    if (number == INT_MIN) {
        return defValue;
    }
    return number != 0;
}

void TXMPProperty::WriteValue(std::string_view value) {
    switch (FKind) {
        case xpSimple:
            if (FValue != value) {
                FValue = std::string(value);
                Changed();
            }
            return;
        case xpStructure:
            throw EInvalidXMPOperation(kXMPSingleValueToStructure);
        case xpAltArray: {
            TXMPProperty* item = FindSubProperty("x-default");
            if (item == nullptr) {
                item = &AddSubProperty("x-default");
            }
            item->WriteValue(value);
            return;
        }
        case xpBagArray:
        case xpSeqArray: {
            const std::vector<std::string_view> parts = SplitItems(value);
            SetSubPropertyCount(static_cast<int>(parts.size()));
            for (std::size_t i = 0; i < parts.size(); ++i) {
                FSubProperties[i]->WriteValue(parts[i]);
            }
            return;
        }
    }
}

void TXMPProperty::WriteValue(int value) { WriteValue(std::string_view(std::to_string(value))); }

void TXMPProperty::WriteValue(bool value) { WriteValue(std::string_view(value ? "True" : "False")); }

void TXMPProperty::UpdateSubProperty(std::string_view name, TXMPPropertyKind kind, std::string_view value) {
    TXMPProperty* sub = FindSubProperty(name);
    if (sub == nullptr) {
        sub = &AddSubProperty(name);
    }
    sub->SetKind(kind);
    sub->WriteValue(value);
}

void TXMPProperty::UpdateSubProperty(std::string_view name, std::string_view value) {
    UpdateSubProperty(name, xpSimple, value);
}

void TXMPProperty::UpdateSubProperty(std::string_view name, int value) {
    UpdateSubProperty(name, xpSimple, std::to_string(value));
}

void TXMPProperty::UpdateSubProperty(std::string_view name, bool value) {
    UpdateSubProperty(name, xpSimple, value ? "True" : "False");
}

}  // namespace zeloro
