-- Wireshark dissector for the captures of the QAV7120 console
-- (LOG-capture-YYYYMMDD-HHMMSS-PID.pcapng, link type USER0).
--
-- Every packet starts with a kind byte:
--   0x01  frame sent: FD, 16-bit big-endian length, command, parameter, data
--   0x02  serial bytes received, one chunk as the port delivered it
--   0x03  USB output report written: report ID 0, then a full (FC), last (BC) or short packet
--   0x04  USB input report read: report ID, then the reply byte
--   0x05  the console's own event, UTF-8 text
--
-- The qav7120-console package installs it in Wireshark's global Lua plugin
-- folder, where Wireshark and tshark find it; from the source tree it is
-- loaded by hand:
--   wireshark -X lua_script:packaging/wireshark/qav7120.lua -X lua_script1:build/bin/qav7120-big5.tbl
-- BIG5 text is decoded through qav7120-big5.tbl, looked for beside this file;
-- the script's first argument (-X lua_script1:PATH) names another one.
--
-- A packet that does not have the layout above is marked malformed
-- (qav7120.malformed); the dissector itself never stops on one.

local script_args = { ... }

-- A second copy (the installed plugin and one given with -X lua_script)
-- cannot register the same protocol again; the first one loaded stays.
local created, proto = pcall(Proto, "qav7120", "QAV7120 speech chip console")
if not created then
    io.stderr:write("qav7120.lua: the dissector is loaded already; this copy is not used\n")
    return
end

local KIND_FRAME, KIND_SERIAL_IN, KIND_USB_OUT, KIND_USB_IN, KIND_EVENT = 1, 2, 3, 4, 5
local INBOUND, OUTBOUND = 1, 2
local HEADER = 0xFD
local USB_REPORT_SIZE = 33
local FULL_MARKER, LAST_MARKER = 0xFC, 0xBC
local LAST_PAYLOAD_MAX = 30
local INFO_TEXT_CHARS = 48
local INFO_REPLIES = 16
local INFO_EVENT_CHARS = 200
local REPLACEMENT = "\239\191\189" -- U+FFFD in UTF-8

local kinds = {
    [KIND_FRAME] = "frame sent",
    [KIND_SERIAL_IN] = "serial bytes received",
    [KIND_USB_OUT] = "USB report written",
    [KIND_USB_IN] = "USB report read",
    [KIND_EVENT] = "console event",
}
local directions = { [INBOUND] = "inbound", [OUTBOUND] = "outbound" }
local kind_direction = {
    [KIND_FRAME] = OUTBOUND, [KIND_SERIAL_IN] = INBOUND,
    [KIND_USB_OUT] = OUTBOUND, [KIND_USB_IN] = INBOUND,
}
local commands = {
    [0x01] = "synthesise", [0x02] = "stop", [0x03] = "pause", [0x04] = "resume",
    [0x21] = "query status", [0x22] = "standby", [0x31] = "cache store",
    [0x32] = "cache play", [0x58] = "query version", [0xFF] = "wake up",
}
local encodings = {
    [0] = "GB2312", [1] = "GBK", [2] = "BIG5", [3] = "UTF-16LE", [4] = "UTF-16BE",
}
local replies = {
    [0x41] = "received", [0x45] = "receive error", [0x4A] = "initialised",
    [0x4E] = "playing", [0x4F] = "idle", [0x53] = "version",
    [0x5E] = "bridge acknowledgement", [0xAA] = "received, chip was idle",
    [0xAB] = "received, chip was paused", [0xAC] = "received, chip was playing",
    [0xAD] = "hardware status: playing",
}
local serial_only = { [0x53] = true }
local usb_only = { [0x5E] = true, [0xAA] = true, [0xAB] = true, [0xAC] = true, [0xAD] = true }
local packets = { [FULL_MARKER] = "full packet", [LAST_MARKER] = "last packet", [0] = "short packet" }

local f = {
    kind = ProtoField.uint8("qav7120.kind", "Kind", base.HEX, kinds),
    direction = ProtoField.uint8("qav7120.direction", "Direction", base.DEC, directions),
    frame = ProtoField.bytes("qav7120.frame", "Frame"),
    header = ProtoField.uint8("qav7120.header", "Header", base.HEX),
    len = ProtoField.uint16("qav7120.len", "Length", base.DEC),
    cmd = ProtoField.uint8("qav7120.cmd", "Command", base.HEX, commands),
    encoding = ProtoField.uint8("qav7120.encoding", "Encoding", base.DEC, encodings),
    segment = ProtoField.uint8("qav7120.segment", "Cache segment", base.DEC),
    play = ProtoField.uint8("qav7120.play", "Play parameter", base.HEX),
    play_count = ProtoField.uint8("qav7120.play.count", "Replay count", base.DEC, nil, 0xF0),
    play_encoding = ProtoField.uint8("qav7120.play.encoding", "Encoding", base.DEC, encodings, 0x0F),
    text = ProtoField.string("qav7120.text", "Text"),
    data = ProtoField.bytes("qav7120.data", "Data"),
    reply = ProtoField.uint8("qav7120.reply", "Reply", base.HEX, replies),
    version = ProtoField.string("qav7120.version", "Version"),
    report_id = ProtoField.uint8("qav7120.report_id", "Report ID", base.DEC),
    packet = ProtoField.uint8("qav7120.packet", "Packet", base.HEX, packets),
    count = ProtoField.uint8("qav7120.count", "Frame bytes in the packet", base.DEC),
    event = ProtoField.string("qav7120.event", "Event"),
    after_frame = ProtoField.framenum("qav7120.after_frame", "After the frame in"),
    since_frame = ProtoField.relative_time("qav7120.since_frame", "Time since that frame"),
}
proto.fields = {
    f.kind, f.direction, f.frame, f.header, f.len, f.cmd, f.encoding, f.segment, f.play,
    f.play_count, f.play_encoding, f.text, f.data, f.reply, f.version, f.report_id, f.packet,
    f.count, f.event, f.after_frame, f.since_frame,
}

local e = {
    malformed = ProtoExpert.new("qav7120.malformed", "Malformed packet",
        expert.group.MALFORMED, expert.severity.ERROR),
    unknown_reply = ProtoExpert.new("qav7120.unknown_reply", "Not a reply of this link",
        expert.group.PROTOCOL, expert.severity.WARN),
    bad_text = ProtoExpert.new("qav7120.bad_text", "Text bytes that are no character",
        expert.group.PROTOCOL, expert.severity.WARN),
    no_table = ProtoExpert.new("qav7120.no_big5_table", "BIG5 table not found",
        expert.group.UNDECODED, expert.severity.WARN),
    cut = ProtoExpert.new("qav7120.cut", "Packet cut short by the capture",
        expert.group.UNDECODED, expert.severity.NOTE),
    internal = ProtoExpert.new("qav7120.internal", "Dissector fault",
        expert.group.MALFORMED, expert.severity.ERROR),
}
proto.experts = { e.malformed, e.unknown_reply, e.bad_text, e.no_table, e.cut, e.internal }

-- Wireshark 4.0's TvbRange:string() cuts the decoded text to the length of
-- the bytes, so text fields are decoded by Wireshark itself
-- (add_packet_field) and read back through these.
local text_value = Field.new("qav7120.text")
local version_value = Field.new("qav7120.version")
local event_value = Field.new("qav7120.event")

-- --- BIG5, through a table made from the platform's code page at build time ---

local script_dir = (function()
    local source = debug.getinfo(1, "S").source
    if source:sub(1, 1) ~= "@" then
        return nil
    end
    return source:sub(2):match("^(.*)[/\\]") or "."
end)()

local big5_table, big5_tried, big5_path
local function load_big5()
    if big5_tried then
        return big5_table
    end
    big5_tried = true
    local candidates = {}
    if type(script_args[1]) == "string" and script_args[1] ~= "" then
        candidates[#candidates + 1] = script_args[1]
    end
    if script_dir then
        candidates[#candidates + 1] = script_dir .. "/qav7120-big5.tbl"
    end
    for _, path in ipairs(candidates) do
        local loaded, chunk = pcall(loadfile, path)
        if loaded and chunk then
            local ok, t = pcall(chunk)
            if ok and type(t) == "table" then
                big5_table = t
                return t
            end
        end
    end
    big5_path = candidates[#candidates] or "qav7120-big5.tbl"
    return nil
end

-- The UTF-8 text of BIG5 bytes, U+FFFD for what is no character; nil when
-- there is no table.
local function big5_decode(bytes)
    local t = load_big5()
    if not t then
        return nil
    end
    local out, i, n = {}, 1, #bytes
    while i <= n do
        local b = bytes:byte(i)
        if b < 0x80 then
            out[#out + 1] = string.char(b)
            i = i + 1
        else
            local trail = i < n and bytes:byte(i + 1) or nil
            local index
            if trail and trail >= 0x40 and trail <= 0x7E then
                index = trail - 0x40 + 1
            elseif trail and trail >= 0xA1 and trail <= 0xFE then
                index = trail - 0xA1 + 64
            end
            local row = t[b]
            local c = row and index and row[index]
            if c and c ~= "" then
                out[#out + 1] = c
            else
                out[#out + 1] = REPLACEMENT
            end
            i = i + ((row and index) and 2 or 1)
        end
    end
    return table.concat(out)
end

-- --- helpers ---

local function malformed(item, range, text)
    if range then
        item:add_tvb_expert_info(e.malformed, range, text)
    else
        item:add_proto_expert_info(e.malformed, text)
    end
end

local escapes = { ["\r"] = "\\r", ["\n"] = "\\n", ["\t"] = "\\t" }

-- The first `limit` characters of UTF-8 text, with "..." when there are more;
-- control characters written as escapes, so that the text stays on one line.
local function shorten(text, limit)
    text = text:gsub("%c", function(c)
        return escapes[c] or string.format("\\x%02x", c:byte())
    end)
    local chars, i, n = 0, 1, #text
    while i <= n do
        local b = text:byte(i)
        if b < 0x80 or b >= 0xC0 then
            chars = chars + 1
            if chars > limit then
                return text:sub(1, i - 1) .. "..."
            end
        end
        i = i + 1
    end
    return text
end

-- Adds a string field decoded by Wireshark; returns the decoded text.
local function add_decoded(tree, field, value_of, range, encoding)
    tree:add_packet_field(field, range, encoding)
    local values = { value_of() }
    local last = values[#values]
    return last and tostring(last.value) or ""
end

local function count_replacements(text)
    local n = 0
    for _ in text:gmatch(REPLACEMENT) do
        n = n + 1
    end
    return n
end

-- Adds the text of the bytes at offset..end of tvb in the encoding; returns
-- the decoded text (or nil). A text of no bytes is the empty text.
local function add_text(tree, tvb, offset, encoding)
    local n = tvb:len() - offset
    if n <= 0 then
        return ""
    end
    local range = tvb(offset, n)
    local text
    if encoding == 0 or encoding == 1 then
        text = add_decoded(tree, f.text, text_value, range, ENC_GB18030)
    elseif encoding == 2 then
        text = big5_decode(range:raw())
        if not text then
            tree:add(f.data, range)
            tree:add_tvb_expert_info(e.no_table, range,
                "BIG5 table not found (" .. tostring(big5_path) .. "): text shown as bytes")
            return nil
        end
        tree:add(f.text, range, text)
    elseif encoding == 3 or encoding == 4 then
        if n % 2 == 1 then
            malformed(tree, range, string.format("UTF-16 text of an odd number of bytes (%d)", n))
        end
        if n < 2 then
            tree:add(f.data, range)
            return ""
        end
        local order = encoding == 3 and ENC_LITTLE_ENDIAN or ENC_BIG_ENDIAN
        text = add_decoded(tree, f.text, text_value, tvb(offset, n - n % 2), ENC_UTF_16 + order)
    else
        tree:add(f.data, range)
        return nil
    end
    local bad = count_replacements(text)
    if bad > 0 then
        tree:add_tvb_expert_info(e.bad_text, range,
            string.format("%d character(s) that the %s bytes do not give", bad, encodings[encoding]))
    end
    return text
end

-- --- the kinds ---

local function dissect_frame(tvb, pinfo, root)
    local n = tvb:len() - 1
    if n <= 0 then
        malformed(root, tvb(0, 1), "empty frame")
        return "empty frame"
    end
    local tree = root:add(f.frame, tvb(1, n))
    tree:add(f.header, tvb(1, 1))
    if tvb(1, 1):uint() ~= HEADER then
        malformed(tree, tvb(1, 1), string.format("header 0x%02X, not 0xFD", tvb(1, 1):uint()))
    end
    if n < 3 then
        malformed(tree, tvb(1, n), string.format("frame of %d byte(s) has no length", n))
        return "truncated frame"
    end
    local length = tvb(2, 2):uint()
    local length_item = tree:add(f.len, tvb(2, 2))
    local follows = tvb:reported_len() - 4 -- the bytes sent after the length
    if length ~= follows then
        malformed(length_item, tvb(2, 2), string.format(
            "length %d, but %d byte(s) follow it%s", length, follows,
            length > follows and ": frame truncated" or ""))
    end
    if n < 4 then
        malformed(tree, tvb(1, n), "frame has no command")
        return "truncated frame"
    end
    local cmd = tvb(4, 1):uint()
    tree:add(f.cmd, tvb(4, 1))
    local name = commands[cmd]
    if not name then
        malformed(tree, tvb(4, 1), string.format("unknown command 0x%02X", cmd))
        if n > 4 then
            tree:add(f.data, tvb(5, n - 4))
        end
        return string.format("unknown command 0x%02X", cmd)
    end
    local info = name

    if cmd == 0x01 or cmd == 0x31 or cmd == 0x32 then
        if n < 5 then
            malformed(tree, tvb(4, 1), name .. " without its parameter")
            return info .. " (no parameter)"
        end
        local param = tvb(5, 1):uint()
        if cmd == 0x01 then
            tree:add(f.encoding, tvb(5, 1))
            local encoding_name = encodings[param]
            if not encoding_name then
                malformed(tree, tvb(5, 1), string.format("unknown encoding %d", param))
                encoding_name = string.format("encoding %d", param)
            end
            local text = add_text(tree, tvb, 6, param)
            info = string.format("%s %s", info, encoding_name)
            if text then
                info = string.format('%s "%s"', info, shorten(text, INFO_TEXT_CHARS))
            end
        elseif cmd == 0x31 then
            tree:add(f.segment, tvb(5, 1))
            if param > 15 then
                malformed(tree, tvb(5, 1), string.format("cache segment %d, not 0 to 15", param))
            end
            local text = add_text(tree, tvb, 6, 1)
            info = string.format('%s segment %d "%s"', info, param,
                shorten(text or "", INFO_TEXT_CHARS))
        else
            local play = tree:add(f.play, tvb(5, 1))
            play:add(f.play_count, tvb(5, 1))
            play:add(f.play_encoding, tvb(5, 1))
            local encoding_name = encodings[param % 16]
            if not encoding_name then
                malformed(play, tvb(5, 1), string.format("unknown encoding %d", param % 16))
                encoding_name = string.format("encoding %d", param % 16)
            end
            info = string.format("%s %d times %s", info, math.floor(param / 16), encoding_name)
            if n > 5 then
                tree:add(f.data, tvb(6, n - 5))
                malformed(tree, tvb(6, n - 5), string.format("%d byte(s) after the parameter", n - 5))
            end
        end
    elseif n > 4 then
        tree:add(f.data, tvb(5, n - 4))
        malformed(tree, tvb(5, n - 4), string.format("%d byte(s) after a one-byte command", n - 4))
    end
    return info
end

local function add_reply(tree, range, code, link_only_elsewhere)
    local item = tree:add(f.reply, range)
    if not replies[code] or link_only_elsewhere[code] then
        item:add_tvb_expert_info(e.unknown_reply, range,
            string.format("0x%02X is no reply on this link", code))
        return string.format("0x%02X", code)
    end
    return replies[code]
end

local function dissect_serial(tvb, pinfo, root)
    local n = tvb:len()
    if n <= 1 then
        malformed(root, tvb(0, 1), "no bytes in the chunk")
        return "no bytes"
    end
    local meanings = {}
    local i = 1
    while i < n do
        local code = tvb(i, 1):uint()
        if replies[code] and not usb_only[code] then
            meanings[#meanings + 1] = add_reply(root, tvb(i, 1), code, usb_only)
            if code == 0x53 then
                if i + 1 < n then
                    local text = add_decoded(root, f.version, version_value,
                        tvb(i + 1, n - i - 1), ENC_GB18030)
                    meanings[#meanings] = meanings[#meanings] .. ' "' .. shorten(text, INFO_TEXT_CHARS) .. '"'
                end
                break
            end
            i = i + 1
        else
            -- A run of bytes that are no serial reply goes in as one item.
            local j = i
            while j < n and not (replies[tvb(j, 1):uint()] and not usb_only[tvb(j, 1):uint()]) do
                j = j + 1
            end
            local range = tvb(i, j - i)
            root:add(f.data, range)
            root:add_tvb_expert_info(e.unknown_reply, range,
                string.format("%d byte(s) that are no reply on the serial link", j - i))
            meanings[#meanings + 1] = string.format("%d other byte(s)", j - i)
            i = j
        end
    end
    if #meanings > INFO_REPLIES then
        return table.concat(meanings, ", ", 1, INFO_REPLIES) .. ", ..."
    end
    return table.concat(meanings, ", ")
end

local function dissect_usb_out(tvb, pinfo, root)
    local n = tvb:len() - 1
    if n <= 0 then
        malformed(root, tvb(0, 1), "empty report")
        return "empty report"
    end
    if tvb:reported_len() - 1 ~= USB_REPORT_SIZE then
        malformed(root, tvb(1, n), string.format("report of %d bytes, not 33", tvb:reported_len() - 1))
    end
    root:add(f.report_id, tvb(1, 1))
    if tvb(1, 1):uint() ~= 0 then
        malformed(root, tvb(1, 1), string.format("report ID %d, not 0", tvb(1, 1):uint()))
    end
    if n < 2 then
        return "report without a packet"
    end
    local marker = tvb(2, 1):uint()
    if marker == FULL_MARKER then
        root:add(f.packet, tvb(2, 1))
        local have = math.min(n - 2, 31)
        if have < 31 then
            malformed(root, tvb(2, 1), string.format("full packet with %d frame bytes, not 31", have))
        end
        if have > 0 then
            root:add(f.data, tvb(3, have))
        end
        return string.format("full packet, %d bytes", have)
    elseif marker == LAST_MARKER then
        root:add(f.packet, tvb(2, 1))
        if n < 3 then
            malformed(root, tvb(2, 1), "last packet without its count")
            return "last packet"
        end
        local count = tvb(3, 1):uint()
        local count_item = root:add(f.count, tvb(3, 1))
        if count > LAST_PAYLOAD_MAX then
            malformed(count_item, tvb(3, 1), string.format("count %d, more than 30", count))
        end
        local have = math.min(count, n - 3)
        if have < count then
            malformed(count_item, tvb(3, 1), string.format("count %d, but %d byte(s) follow", count, n - 3))
        end
        if have > 0 then
            root:add(f.data, tvb(4, have))
        end
        return string.format("last packet, %d bytes", count)
    end
    root:add(f.packet, tvb(2, 0), 0):set_generated()
    -- A frame of at most three bytes, zeros after it.
    local last = math.min(n - 1, 3)
    while last > 1 and tvb(1 + last, 1):uint() == 0 do
        last = last - 1
    end
    root:add(f.data, tvb(2, last))
    return "short packet"
end

local function dissect_usb_in(tvb, pinfo, root)
    local n = tvb:len() - 1
    if n < 2 then
        malformed(root, tvb(0, n + 1), "input report without a reply byte")
        return "report without a reply"
    end
    root:add(f.report_id, tvb(1, 1))
    return add_reply(root, tvb(2, 1), tvb(2, 1):uint(), serial_only)
end

local function dissect_event(tvb, pinfo, root)
    local n = tvb:len() - 1
    if n <= 0 then
        root:add(f.event, tvb(0, 1), "")
        return ""
    end
    return shorten(add_decoded(root, f.event, event_value, tvb(1, n), ENC_UTF_8), INFO_EVENT_CHARS)
end

local dissectors = {
    [KIND_FRAME] = dissect_frame,
    [KIND_SERIAL_IN] = dissect_serial,
    [KIND_USB_OUT] = dissect_usb_out,
    [KIND_USB_IN] = dissect_usb_in,
    [KIND_EVENT] = dissect_event,
}

-- The last frame sent before each reply, found on the first pass in order.
local last_sent
local follows = {}

function proto.init()
    last_sent = nil
    follows = {}
end

local function add_time_since_frame(tvb, pinfo, root)
    local sent = follows[pinfo.number]
    if not sent then
        return
    end
    root:add(f.after_frame, tvb(0, 1), sent.number):set_generated()
    local micros = math.floor((pinfo.rel_ts - sent.rel_ts) * 1e6 + 0.5)
    local secs = math.floor(micros / 1e6)
    root:add(f.since_frame, tvb(0, 1), NSTime.new(secs, (micros - secs * 1e6) * 1000)):set_generated()
end

local function dissect(tvb, pinfo, root)
    if tvb:len() == 0 then
        malformed(root, nil, "empty packet")
        return "empty packet"
    end
    if tvb:reported_len() > tvb:len() then
        root:add_proto_expert_info(e.cut, string.format("only %d of %d bytes captured",
            tvb:len(), tvb:reported_len()))
    end
    local kind = tvb(0, 1):uint()
    root:add(f.kind, tvb(0, 1))
    local direction = kind_direction[kind]
    if direction then
        root:add(f.direction, tvb(0, 1), direction):set_generated()
    end
    if not pinfo.visited then
        if kind == KIND_FRAME then
            last_sent = { number = pinfo.number, rel_ts = pinfo.rel_ts }
        elseif direction == INBOUND then
            follows[pinfo.number] = last_sent
        end
    end
    local body = dissectors[kind]
    if not body then
        malformed(root, tvb(0, 1), string.format("unknown kind 0x%02X", kind))
        if tvb:len() > 1 then
            root:add(f.data, tvb(1, tvb:len() - 1))
        end
        return string.format("unknown kind 0x%02X", kind)
    end
    if direction == INBOUND then
        add_time_since_frame(tvb, pinfo, root)
    end
    return body(tvb, pinfo, root)
end

local sources = { [INBOUND] = "chip", [OUTBOUND] = "console" }
local destinations = { [INBOUND] = "console", [OUTBOUND] = "chip" }

function proto.dissector(tvb, pinfo, tree)
    pinfo.cols.protocol = "QAV7120"
    local direction = tvb:len() > 0 and kind_direction[tvb(0, 1):uint()]
    pinfo.cols.src = direction and sources[direction] or "console"
    pinfo.cols.dst = direction and destinations[direction] or ""
    local root = tvb:len() > 0 and tree:add(proto, tvb()) or tree:add(proto)
    local ok, info = pcall(dissect, tvb, pinfo, root)
    if not ok then
        root:add_proto_expert_info(e.internal, "dissector fault: " .. tostring(info))
        info = "dissector fault"
    end
    pinfo.cols.info = info or ""
    return tvb:len()
end

DissectorTable.get("wtap_encap"):add(wtap.USER0, proto)
