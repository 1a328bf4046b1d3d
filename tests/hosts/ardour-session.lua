-- Loads TALVOR into a headless Ardour session on the dummy audio backend,
-- lets it process a test tone, checks levels and a parameter change, then
-- saves, reloads and checks that the settings came back; over LV2 it also
-- finds the factory presets in Ardour's preset list and applies one.
-- Environment: TALVOR_PTYPE (VST3, LXVST or LV2), TALVOR_SESSION_DIR.
local ptype_name = os.getenv("TALVOR_PTYPE") or "VST3"
local sessdir = assert(os.getenv("TALVOR_SESSION_DIR"), "TALVOR_SESSION_DIR not set")
local vst2 = ptype_name == "LXVST"

-- VST2 hosts see normalised positions, VST3 and LV2 hosts real values.
local function V(real, norm) if vst2 then return norm else return real end end

local function check(cond, msg)
  if not cond then error("FAIL: " .. msg, 0) end
end

check(AudioEngine:set_backend("None (Dummy)", "", "") ~= nil, "dummy backend")
AudioEngine:set_device_name("Sine Wave")
AudioEngine:set_sample_rate(48000)
AudioEngine:set_buffer_size(256)
check(AudioEngine:start(false) == 0, "audio engine start")

local function level(rt)
  local pm = rt:peak_meter()
  return (pm:meter_level(0, ARDOUR.MeterType.MeterPeak) + pm:meter_level(1, ARDOUR.MeterType.MeterPeak)) / 2
end

-- Waits until the meter has settled (meters fall back slowly), at most 8 s.
local function settled_level(rt)
  local last, still = level(rt), 0
  for _ = 1, 32 do
    ARDOUR.LuaAPI.usleep(250000)
    local now = level(rt)
    if math.abs(now - last) < 0.05 then still = still + 1 else still = 0 end
    last = now
    if still >= 2 then break end
  end
  return last
end

local function find_param(plug, label)
  -- the last match: over VST3 the host's bypass comes first and shares the name "Bypass"
  local found
  for j = 0, plug:parameter_count() - 1 do
    if plug:parameter_label(j) == label then found = j end
  end
  check(found ~= nil, "no parameter " .. label)
  return found
end

Session = create_session(sessdir, "talvor", 48000)
check(Session ~= nil, "session created")

local ref = Session:new_audio_track(2, 2, nil, 1, "Ref", ARDOUR.PresentationInfo.max_order, ARDOUR.TrackMode.Normal, true, false):front()
local tr = Session:new_audio_track(2, 2, nil, 1, "Talvor", ARDOUR.PresentationInfo.max_order, ARDOUR.TrackMode.Normal, true, false):front()
for _, t in ipairs({ref, tr}) do
  t:monitoring_control():set_value(ARDOUR.MonitorChoice.MonitorInput, PBD.GroupControlDisposition.NoGroup)
end

local proc = ARDOUR.LuaAPI.new_plugin(Session, "TALVOR", ARDOUR.PluginType[ptype_name], "")
check(not proc:isnil(), "TALVOR " .. ptype_name .. " not found (scanner cache missing?)")
check(tr:add_processor_by_index(proc, 0, nil, true) == 0, "plug-in inserted")
local pi = proc:to_insert()
local plug = pi:plugin(0)
print(string.format("%s: %s by %s, id %s, %d in / %d out, %d parameters", ptype_name, plug:name(), plug:maker(),
  plug:unique_id(), pi:input_streams():n_audio(), pi:output_streams():n_audio(), plug:parameter_count()))
check(plug:name() == "TALVOR" and plug:maker() == "SilverMeadowLab", "name and maker")
check(pi:output_streams():n_audio() == 2, "stereo out")
-- VST3 adds the host's bypass parameter to the eleven of the plug-in; Ardour
-- counts every port of an LV2 plug-in, the four audio ports too.
local counts = { LXVST = 11, VST3 = 12, LV2 = 15 }
check(plug:parameter_count() == counts[ptype_name], "parameter count")
local names = { "Low Gain", "Low Freq", "Mid Gain", "Mid Freq", "High Gain", "High Freq",
                "Input", "Output", "Bypass", "Filter", "Link" }
for _, n in ipairs(names) do find_param(plug, n) end

ARDOUR.LuaAPI.usleep(500000)
local l_ref, l0 = settled_level(ref), settled_level(tr)
print(string.format("defaults: reference %.2f dBFS, TALVOR %.2f dBFS", l_ref, l0))
check(l_ref > -19 and l_ref < -17, "reference tone level")
-- small signals gain about 1.4 dB in the saturation stage
check(l0 - l_ref > 0.8 and l0 - l_ref < 2.2, "gain at default settings")

check(ARDOUR.LuaAPI.set_processor_param(proc, find_param(plug, "Output"), V(-12, 0)), "set Output")
local l1 = settled_level(tr)
print(string.format("Output -12 dB: TALVOR %.2f dBFS", l1))
check(math.abs((l0 - l1) - 12) < 0.7, "Output -12 dB lowers the level by 12 dB")

check(ARDOUR.LuaAPI.set_processor_param(proc, find_param(plug, "Output"), V(0, 0.5)), "reset Output")
check(ARDOUR.LuaAPI.set_processor_param(proc, find_param(plug, "Mid Gain"), V(8, 0.8)), "set Mid Gain")
check(ARDOUR.LuaAPI.set_processor_param(proc, find_param(plug, "Filter"), 1), "set Filter")
ARDOUR.LuaAPI.usleep(200000)
Session:save_state("", false, false, false, false, false)
close_session()

Session = load_session(sessdir, "talvor")
check(Session ~= nil, "session reloaded")
tr = Session:route_by_name("Talvor")
proc = tr:nth_plugin(0)
check(not proc:isnil() and proc:display_name() == "TALVOR", "plug-in restored")
plug = proc:to_insert():plugin(0)
local function value(label) return ARDOUR.LuaAPI.get_processor_param(proc, find_param(plug, label), true) end
print(string.format("restored: Mid Gain %g, Filter %g, Output %g, Low Gain %g", value("Mid Gain"), value("Filter"),
  value("Output"), value("Low Gain")))
check(math.abs(value("Mid Gain") - V(8, 0.8)) < 1e-6, "Mid Gain restored")
check(value("Filter") == 1, "Filter restored")
check(math.abs(value("Output") - V(0, 0.5)) < 1e-6, "Output restored")
check(math.abs(value("Low Gain") - V(5, 0.5)) < 1e-6, "Low Gain restored")
ARDOUR.LuaAPI.usleep(500000)
local l2 = settled_level(tr)
print(string.format("after reload: TALVOR %.2f dBFS", l2))
check(l2 > -30 and l2 < -5, "audio passes after reload")
if ptype_name == "LV2" then
  check(plug:preset_by_label("No Such Preset") == nil, "an unknown preset is not found")
  for _, name in ipairs({ "Flat", "Vocal Presence", "Kick Weight", "Thin Lo-Fi Voice" }) do
    check(plug:preset_by_label(name) ~= nil, "preset " .. name .. " listed")
  end
  local rec = plug:preset_by_label("Drum Bus Drive")
  check(rec ~= nil, "preset Drum Bus Drive listed")
  check(plug:load_preset(rec), "preset Drum Bus Drive applied")
  print(string.format("Drum Bus Drive: Low Gain %g, High Freq %g, Input %g, Output %g, Filter %g, Link %g",
    value("Low Gain"), value("High Freq"), value("Input"), value("Output"), value("Filter"), value("Link")))
  check(value("Low Gain") == 6 and value("High Freq") == 2 and value("Input") == 6 and value("Output") == -6
        and value("Filter") == 1 and value("Link") == 1, "preset values applied")
end
close_session()
print("OK: " .. ptype_name .. " TALVOR processed, saved and restored in Ardour")
