// Writes the metadata of the plugin bundle from the library's own description of its settings,
// at build time, so that the metadata and the code cannot drift apart:
//   orvane-metadata lv2 BUNDLE_DIR BINARY_NAME   manifest.ttl, plugins.ttl, presets.ttl
//   orvane-metadata json FILE                     every effect's settings, for the web page
//   orvane-metadata markdown                      the README's table of plugins
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <orvane/audioeffects/AudioEffects.hpp>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "PluginCatalogue.hpp"

namespace {

using orvane::extensions::audioeffects::EffectSettings;
using orvane::extensions::audioeffects::SettingInfo;
using orvane::extensions::audioeffects::SettingKind;
using namespace orvane::plugins;

// Every value of the catalogue is a float the nodes hold; its shortest form reads back exactly.
std::string number(double value) {
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, static_cast<float>(value));
  return std::string(text, result.ptr);
}

std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string uriOf(const PluginVariant& variant) {
  return "<" + std::string(kUriBase) + variant.label + ">";
}

std::string presetUri(const PluginVariant& variant, const Preset& preset) {
  return "<" + std::string(kUriBase) + variant.label + ":preset:" + preset.slug + ">";
}

const char* unitOf(const PluginControl& c) {
  if (c.unit == "ms") return "units:ms";
  if (c.unit == "Hz") return "units:hz";
  if (c.unit == "dB") return "units:db";
  return c.info->kind == SettingKind::Toggle ? nullptr : "units:coef";  // levels are plain gains
}

const char* kPrefixes =
    "@prefix atom: <http://lv2plug.in/ns/ext/atom#> .\n"
    "@prefix doap: <http://usefulinc.com/ns/doap#> .\n"
    "@prefix foaf: <http://xmlns.com/foaf/0.1/> .\n"
    "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
    "@prefix pg: <http://lv2plug.in/ns/ext/port-groups#> .\n"
    "@prefix pprops: <http://lv2plug.in/ns/ext/port-props#> .\n"
    "@prefix pset: <http://lv2plug.in/ns/ext/presets#> .\n"
    "@prefix rdf: <http://www.w3.org/1999/02/22-rdf-syntax-ns#> .\n"
    "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n"
    "@prefix time: <http://lv2plug.in/ns/ext/time#> .\n"
    "@prefix units: <http://lv2plug.in/ns/extensions/units#> .\n"
    "@prefix urid: <http://lv2plug.in/ns/ext/urid#> .\n\n";

void writeManifest(std::ostream& out, const std::string& binary) {
  out << kPrefixes;
  for (const PluginVariant& variant : pluginVariants()) {
    out << uriOf(variant) << "\n  a lv2:Plugin ;\n  lv2:binary <" << binary
        << "> ;\n  rdfs:seeAlso <plugins.ttl> .\n\n";
    for (const Preset& preset : variant.effect->presets()) {
      out << presetUri(variant, preset) << "\n  a pset:Preset ;\n  lv2:appliesTo "
          << uriOf(variant) << " ;\n  rdfs:seeAlso <presets.ttl> .\n\n";
    }
  }
}

void writeControlPort(std::ostream& out, const PluginControl& c, std::size_t index) {
  const SettingInfo& s = *c.info;
  out << "  [\n    a lv2:InputPort , lv2:ControlPort ;\n    lv2:index " << index
      << " ;\n    lv2:symbol " << quoted(portSymbol(s.id)) << " ;\n    lv2:name "
      << quoted(s.name) << " ;\n    rdfs:comment " << quoted(s.description)
      << " ;\n    lv2:default " << number(c.defaultValue) << " ;\n    lv2:minimum "
      << number(c.minimum) << " ;\n    lv2:maximum " << number(c.maximum);
  if (s.kind == SettingKind::Toggle) out << " ;\n    lv2:portProperty lv2:toggled";
  if (s.kind == SettingKind::Integer) out << " ;\n    lv2:portProperty lv2:integer";
  if (c.logarithmic) out << " ;\n    lv2:portProperty pprops:logarithmic";
  if (s.isBypass) out << " ;\n    lv2:designation lv2:enabled";
  if (const char* unit = unitOf(c)) out << " ;\n    units:unit " << unit;
  out << "\n  ]";
}

// A note value as a host lists it: "1/8 dotted", "1/8 triplet".
std::string noteLabel(const std::string& note) {
  if (note.back() == '.') return note.substr(0, note.size() - 1) + " dotted";
  if (note.back() == 't') return note.substr(0, note.size() - 1) + " triplet";
  return note;
}

// What LV2 adds to the LADSPA ports: the tempo sync of an effect with a delay time, and the
// atom input that brings the host's time:Position (tempo, transport frame and speed).
void writeLv2Ports(std::ostream& out, const PluginVariant& variant) {
  const orvane::plugins::Lv2Ports ports = variant.lv2Ports();
  if (variant.syncedSetting) {
    out << " ,\n  [\n    a lv2:InputPort , lv2:ControlPort ;\n    lv2:index " << ports.sync
        << " ;\n    lv2:symbol \"sync\" ;\n    lv2:name \"Tempo Sync\" ;\n    rdfs:comment "
        << quoted("On: the delay time is the note value at the host's tempo, and the Delay "
                  "Time control is not read.")
        << " ;\n    lv2:default 0 ;\n    lv2:minimum 0 ;\n    lv2:maximum 1 ;\n"
        << "    lv2:portProperty lv2:toggled\n  ] ,\n  [\n    a lv2:InputPort , lv2:ControlPort ;"
        << "\n    lv2:index " << ports.note
        << " ;\n    lv2:symbol \"note\" ;\n    lv2:name \"Note Value\" ;\n    rdfs:comment "
        << quoted("The delay time as a note at the host's tempo, with Tempo Sync on.")
        << " ;\n    lv2:default " << orvane::plugins::kDefaultNoteValue
        << " ;\n    lv2:minimum 0 ;\n    lv2:maximum " << orvane::plugins::kNoteValues.size() - 1
        << " ;\n    lv2:portProperty lv2:integer , lv2:enumeration";
    for (std::size_t i = 0; i < orvane::plugins::kNoteValues.size(); ++i) {
      out << " ;\n    lv2:scalePoint [ rdfs:label "
          << quoted(noteLabel(orvane::plugins::kNoteValues[i])) << " ; rdf:value " << i << " ]";
    }
    out << "\n  ]";
  }
  out << " ,\n  [\n    a lv2:InputPort , atom:AtomPort ;\n    lv2:index " << ports.control
      << " ;\n    lv2:symbol \"control\" ;\n    lv2:name \"Control\" ;\n"
      << "    atom:bufferType atom:Sequence ;\n    atom:supports time:Position ;\n"
      << "    lv2:designation lv2:control ;\n    lv2:portProperty lv2:connectionOptional\n  ]";
}

// The group of a plugin's audio inputs or outputs ("in", "out"): stereo pairs with their left
// and right, mono channels as the centre, so hosts wire and label them as such.
std::string groupUri(const PluginVariant& variant, const std::string& group) {
  return "<" + std::string(kUriBase) + variant.label + "#" + group + ">";
}

void writeAudioPort(std::ostream& out, const PluginVariant& variant, const char* direction,
                    const std::string& symbol, std::size_t index) {
  std::string name = symbol;
  name[0] = static_cast<char>(std::toupper(name[0]));
  const char* designation = "pg:center";
  if (name.size() > 2 && name[name.size() - 2] == '_') {
    const bool left = name.back() == 'l';
    name = name.substr(0, name.size() - 2) + (left ? " Left" : " Right");
    designation = left ? "pg:left" : "pg:right";
  }
  const std::string group = symbol.substr(0, symbol.find('_'));
  out << "  [\n    a lv2:" << direction << " , lv2:AudioPort ;\n    lv2:index " << index
      << " ;\n    lv2:symbol " << quoted(symbol) << " ;\n    lv2:name " << quoted(name)
      << " ;\n    pg:group " << groupUri(variant, group) << " ;\n    lv2:designation "
      << designation << "\n  ]";
}

void writeGroups(std::ostream& out, const PluginVariant& variant) {
  const char* kind = variant.channels == 2 ? "pg:StereoGroup" : "pg:MonoGroup";
  for (const auto& [group, role, name] :
       {std::tuple{"in", "pg:InputGroup", "Input"}, std::tuple{"out", "pg:OutputGroup", "Output"}}) {
    out << groupUri(variant, group) << "\n  a " << kind << " , " << role << " ;\n  lv2:symbol "
        << quoted(group) << " ;\n  rdfs:label " << quoted(name) << " .\n\n";
  }
}

// LV2 versions: the minor version is even for a release, and both grow with the project's
// version (major and minor in the minor version, patch in the micro version).
constexpr int kLv2MinorVersion =
    2 * (100 * ORVANE_AUDIOEFFECTS_VERSION_MAJOR + ORVANE_AUDIOEFFECTS_VERSION_MINOR);
constexpr int kLv2MicroVersion = 2 * ORVANE_AUDIOEFFECTS_VERSION_PATCH;

void writePlugins(std::ostream& out) {
  out << kPrefixes;
  out << "<" << kUriBase << "project>\n  a doap:Project ;\n  doap:name "
      << quoted(std::string(kMaker) + " Audio Effects") << " ;\n  doap:maintainer [ foaf:name "
      << quoted(kMaker) << " ] .\n\n";
  for (const PluginVariant& variant : pluginVariants()) {
    const EffectSettings& effect = *variant.effect;
    writeGroups(out, variant);
    out << uriOf(variant) << "\n  a lv2:Plugin , lv2:" << variant.lv2Class << " ;\n  doap:name "
        << quoted(pluginName(variant)) << " ;\n  rdfs:comment " << quoted(effect.description())
        << " ;\n  doap:license <https://spdx.org/licenses/" << kLicense << "> ;\n  lv2:project <"
        << kUriBase << "project> ;\n  lv2:minorVersion " << kLv2MinorVersion
        << " ;\n  lv2:microVersion " << kLv2MicroVersion
        << " ;\n  lv2:optionalFeature lv2:hardRTCapable , urid:map ;\n  lv2:port\n";
    std::size_t index = 0;
    for (const PluginControl& c : variant.controls) {
      if (index > 0) out << " ,\n";
      writeControlPort(out, c, index++);
    }
    for (const std::string& symbol : audioInputSymbols(variant)) {
      out << " ,\n";
      writeAudioPort(out, variant, "InputPort", symbol, index++);
    }
    for (const std::string& symbol : audioOutputSymbols(variant)) {
      out << " ,\n";
      writeAudioPort(out, variant, "OutputPort", symbol, index++);
    }
    writeLv2Ports(out, variant);
    out << " .\n\n";
  }
}

void writePresets(std::ostream& out) {
  out << kPrefixes;
  for (const PluginVariant& variant : pluginVariants()) {
    for (const Preset& preset : variant.effect->presets()) {
      out << presetUri(variant, preset) << "\n  a pset:Preset ;\n  lv2:appliesTo "
          << uriOf(variant) << " ;\n  rdfs:label " << quoted(preset.name) << " ;\n  lv2:port";
      // Every setting, so that loading a preset also undoes what the last one changed.
      bool first = true;
      for (const PluginControl& c : variant.controls) {
        double value = c.defaultValue;
        for (const auto& [id, presetValue] : preset.values) {
          if (c.info->id == id) value = c.portValue(presetValue);
        }
        out << (first ? " " : " ,\n    ") << "[ lv2:symbol " << quoted(portSymbol(c.info->id))
            << " ; pset:value " << number(value) << " ]";
        first = false;
      }
      out << " .\n\n";
    }
  }
}

const char* kindName(SettingKind kind) {
  switch (kind) {
    case SettingKind::Toggle:
      return "toggle";
    case SettingKind::Integer:
      return "integer";
    case SettingKind::Number:
      break;
  }
  return "number";
}

void writeJson(std::ostream& out) {
  orvane::extensions::audioeffects::AudioEffectsNodeFactory factory;
  out << "{\n  \"effects\": [";
  bool firstEffect = true;
  for (const orvane::NodeTypeInfo& info : factory.getNodeTypes()) {
    const EffectSettings& effect = *EffectSettings::forType(info.type);
    out << (firstEffect ? "\n" : ",\n") << "    {\"type\": " << quoted(info.type)
        << ", \"name\": " << quoted(info.displayName) << ", \"description\": "
        << quoted(info.description) << ", \"minimumChannels\": " << effect.minimumChannels()
        << ", \"maximumChannels\": " << effect.maximumChannels() << ", \"settings\": [";
    firstEffect = false;
    // The effect's own settings in the library's units, then the output stage's mix and level
    // (the same two the plugins end with), marked "stage".
    std::vector<std::pair<const SettingInfo*, bool>> listed;
    for (const SettingInfo& s : effect.settings()) listed.emplace_back(&s, false);
    const std::vector<PluginControl> controls = pluginControls(effect);
    for (std::size_t i = effect.settings().size(); i < controls.size(); ++i) {
      listed.emplace_back(controls[i].info, true);
    }
    bool first = true;
    for (const auto& [setting, stage] : listed) {
      const SettingInfo& s = *setting;
      out << (first ? "\n" : ",\n") << "      {\"id\": " << quoted(s.id)
          << ", \"name\": " << quoted(s.name) << ", \"description\": " << quoted(s.description)
          << ", \"unit\": " << quoted(s.unit) << ", \"kind\": " << quoted(kindName(s.kind))
          << ", \"default\": " << number(s.defaultValue) << ", \"minimum\": "
          << number(s.minimum) << ", \"maximum\": " << number(s.maximum)
          << ", \"isBypass\": " << (s.isBypass ? "true" : "false")
          << ", \"stage\": " << (stage ? "true" : "false") << "}";
      first = false;
    }
    out << "\n    ]}";
  }
  out << "\n  ]\n}\n";
}

std::string rangeText(const PluginControl& c) {
  if (c.info->kind == SettingKind::Toggle) {
    return c.defaultValue > 0.0 ? "on/off, on" : "on/off, off";
  }
  const std::string unit = c.unit.empty() ? "" : " " + c.unit;
  return number(c.minimum) + " to " + number(c.maximum) + unit + ", default " +
         number(c.defaultValue) + (c.logarithmic ? ", logarithmic" : "");
}

// The README's table of plugins, ports, ranges and presets.
void writeMarkdown(std::ostream& out) {
  out << "| plugin (LV2 URI `" << kUriBase << "LABEL`, LADSPA label) | control ports, in order |"
      << " presets |\n|---|---|---|\n";
  for (const PluginVariant& variant : pluginVariants()) {
    out << "| `" << variant.label << "` (" << pluginName(variant) << ") |";
    std::string separator = " ";
    for (const PluginControl& c : variant.controls) {
      out << separator << "`" << portSymbol(c.info->id) << "` " << rangeText(c);
      separator = "; ";
    }
    out << " |";
    separator = " ";
    for (const Preset& preset : variant.effect->presets()) {
      out << separator << preset.name;
      separator = ", ";
    }
    out << " |\n";
  }
}

// Writes through a temporary file, so a failed run never leaves half a file for the build.
bool writeFile(const std::filesystem::path& path, void (*write)(std::ostream&)) {
  const std::filesystem::path temporary = path.string() + ".tmp";
  {
    std::ofstream out(temporary);
    write(out);
    if (!out.flush()) return false;
  }
  std::error_code error;
  std::filesystem::rename(temporary, path, error);
  return !error;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "lv2" && argc == 4) {
    const std::filesystem::path bundle = argv[2];
    static std::string binary;
    binary = argv[3];
    std::filesystem::create_directories(bundle);
    const bool ok =
        writeFile(bundle / "manifest.ttl", [](std::ostream& out) { writeManifest(out, binary); }) &&
        writeFile(bundle / "plugins.ttl", writePlugins) &&
        writeFile(bundle / "presets.ttl", writePresets);
    if (!ok) std::cerr << "orvane-metadata: cannot write into " << bundle << "\n";
    return ok ? 0 : 1;
  }
  if (mode == "json" && argc == 3) {
    if (writeFile(argv[2], writeJson)) return 0;
    std::cerr << "orvane-metadata: cannot write " << argv[2] << "\n";
    return 1;
  }
  if (mode == "markdown" && argc == 2) {
    writeMarkdown(std::cout);
    return std::cout.flush() ? 0 : 1;
  }
  std::cerr << "usage: orvane-metadata lv2 BUNDLE_DIR BINARY_NAME | json FILE | markdown\n";
  return 2;
}
