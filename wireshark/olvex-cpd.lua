-- Olvex CPD: the devices' protocol on an Olvex Updater line, for Wireshark
-- and tshark.
--
-- Opens the captures that `olvex-cli scan|flash PORT --capture FILE` writes
-- (pcapng, link type RTAC serial) with no further step: Wireshark's own RTAC
-- Serial dissector shows each record's serial header (time, sent or
-- received), and this one every CPD frame of the record's bytes. A frame
-- that the line delivered in several records is shown whole, decoded, in the
-- record that completes it; bytes that form no frame are shown as such.
--
-- Load it for one run:   tshark -X lua_script:olvex-cpd.lua -r capture.pcapng
-- or for good: copy it into Wireshark's personal Lua plugins folder
-- (Help > About Wireshark > Folders), ~/.local/lib/wireshark/plugins on
-- Linux, %APPDATA%\Wireshark\plugins on Windows.
-- Its fields, for display filters: wireshark/README.md in the sources.

local cpd = Proto("cpd", "Olvex CPD")

-- The frame: an 8-byte address, the command word (type in bits 7..5 and
-- block in bits 4..0 of its first byte, number in its second), the payload
-- and a CRC-8 of everything before it. No length field: a frame is one
-- write of its sender.
local RTAC_HEADER = 12
local MIN_FRAME = 11
local FULL_PART_FRAME = 211 -- a firmware frame carrying a whole part of 197 bytes
local MAX_FRAME = 1000      -- the host takes no longer frame
local MAX_PENDING = 4096    -- bytes held for a frame not yet complete, per line and direction
local RECENT_SENT = 16      -- frames sent whose echo may still come

local TYPE_REQUEST, TYPE_RESPONSE, TYPE_ERROR = 0, 2, 6
local BLOCK_DEVICE, BLOCK_SEARCH = 20, 30
local NUMBER_VERSION, NUMBER_FIRMWARE = 3, 50

local SENT, RECEIVED = 1, 2
local DIRECTIONS = { [SENT] = "sent (host to devices)", [RECEIVED] = "received (devices to host)" }
local TYPES = { [0] = "Request", [2] = "Response", [6] = "Error report" }
local KINDS = { [0] = "VT-PROBE", [10] = "VT-TALLY-8", [11] = "VT-TALLY-16" }
local STAGES = { [0] = "abandon", [1] = "first part", [2] = "middle part", [3] = "last part" }

local f = {
    direction = ProtoField.uint8("cpd.direction", "Direction", base.DEC, DIRECTIONS),
    frame = ProtoField.none("cpd.frame", "CPD frame"),
    id = ProtoField.bytes("cpd.id", "Address", base.COLON),
    mac = ProtoField.string("cpd.mac", "Address as shown (first six bytes)"),
    type = ProtoField.uint8("cpd.type", "Frame type", base.DEC, TYPES, 0xE0),
    block = ProtoField.uint8("cpd.block", "Command block", base.DEC, nil, 0x1F),
    number = ProtoField.uint8("cpd.number", "Command number"),
    kind = ProtoField.uint8("cpd.kind", "Device kind", base.DEC, KINDS),
    major = ProtoField.uint8("cpd.version.major", "Version major", base.DEC, nil, 0x7F),
    boot = ProtoField.bool("cpd.version.boot", "Boot loader running", 8, nil, 0x80),
    minor = ProtoField.uint8("cpd.version.minor", "Version minor"),
    stage = ProtoField.uint8("cpd.firmware.stage", "Stage", base.DEC, STAGES),
    part = ProtoField.uint16("cpd.firmware.part", "Part number"),
    length = ProtoField.uint16("cpd.firmware.length", "Data length"),
    data = ProtoField.bytes("cpd.firmware.data", "Data"),
    ack_stage = ProtoField.uint8("cpd.ack.stage", "Stage echo", base.DEC, STAGES),
    ack_part = ProtoField.uint16("cpd.ack.part", "Part number"),
    error = ProtoField.int32("cpd.error.code", "Error code"),
    payload = ProtoField.bytes("cpd.payload", "Payload"),
    checksum = ProtoField.uint8("cpd.checksum", "Checksum", base.HEX),
    checksum_status = ProtoField.uint8("cpd.checksum.status", "Checksum status", base.DEC,
                                       { [0] = "Bad", [1] = "Good" }),
    echo_of = ProtoField.framenum("cpd.echo_of", "Echo of the frame sent in"),
    fragment = ProtoField.framenum("cpd.fragment", "Bytes from"),
    fragments = ProtoField.uint16("cpd.fragment.count", "Records"),
    reassembled_in = ProtoField.framenum("cpd.reassembled_in", "Frame completed in"),
    pending = ProtoField.bytes("cpd.pending", "Bytes of a frame not complete"),
    stray = ProtoField.bytes("cpd.stray", "Bytes that form no frame"),
}
cpd.fields = f

local e = {
    bad_checksum = ProtoExpert.new("cpd.checksum.bad", "Bad checksum", expert.group.CHECKSUM,
                                   expert.severity.ERROR),
    short = ProtoExpert.new("cpd.short", "Payload shorter than its command's",
                            expert.group.MALFORMED, expert.severity.WARN),
    stray = ProtoExpert.new("cpd.stray.expert", "Bytes that form no frame",
                            expert.group.PROTOCOL, expert.severity.WARN),
    incomplete = ProtoExpert.new("cpd.incomplete", "Frame not completed in the capture",
                                 expert.group.REASSEMBLE, expert.severity.WARN),
    no_direction = ProtoExpert.new("cpd.no_direction",
                                   "Neither the serial event nor the flags say which way these bytes went",
                                   expert.group.UNDECODED, expert.severity.WARN),
}
cpd.experts = { e.bad_checksum, e.short, e.stray, e.incomplete, e.no_direction }

cpd.prefs.decode = Pref.bool("Decode the serial payload as CPD", true,
    "Off: the RTAC Serial dissector alone decodes these captures, as without this plugin")

local rtacser = Dissector.get("rtacser")
local interface_id = Field.new("frame.interface_id")
local band, bxor, rshift = bit.band, bit.bxor, bit.rshift

-- CRC-8, reflected polynomial 0x8C, initial value 0: over a whole frame,
-- checksum included, it is 0.
local CRC = {}
for i = 0, 255 do
    local c = i
    for _ = 1, 8 do
        c = band(c, 1) == 1 and bxor(rshift(c, 1), 0x8C) or rshift(c, 1)
    end
    CRC[i] = c
end

local function crc8(s, from, to)
    local c = 0
    for i = from, to do
        c = CRC[bxor(c, s:byte(i))]
    end
    return c
end

local function command(s, at)
    local word = s:byte(at + 8)
    return rshift(word, 5), band(word, 0x1F), s:byte(at + 9)
end

-- ---------------------------------------------------------------------------
-- Cutting frames out of what one direction of a line carried. `view` holds that
-- direction's bytes not yet cut (`s`), where records end and begin in them,
-- whether they were received, and the frames the host sent lately.

-- The length of the frame that begins at `at`: that of a frame the host sent
-- when these bytes are its echo, else as its command gives it; nil for the
-- commands whose frames vary (a last firmware part, unknown ones).
local function expected_length(view, at)
    local s = view.s
    if view.received then
        local head = s:sub(at, at + MIN_FRAME - 1)
        for _, sent in ipairs(view.sent) do
            if sent.head == head then
                local n = math.min(#sent.bytes, #s - at + 1)
                if s:sub(at, at + n - 1) == sent.bytes:sub(1, n) then return #sent.bytes end
            end
        end
    end
    local ftype, block, number = command(s, at)
    if ftype == TYPE_ERROR then return MIN_FRAME + 4 end
    if block == BLOCK_SEARCH and (ftype == TYPE_REQUEST or ftype == TYPE_RESPONSE) then
        return MIN_FRAME
    end
    if block ~= BLOCK_DEVICE then return nil end
    if ftype == TYPE_REQUEST and number == NUMBER_VERSION then return MIN_FRAME end
    if ftype == TYPE_REQUEST and number == NUMBER_FIRMWARE then
        local stage = s:byte(at + 10)
        if stage == 1 or stage == 2 then return FULL_PART_FRAME end
    end
    if ftype == TYPE_RESPONSE and view.received then
        if number == NUMBER_VERSION then return MIN_FRAME + 2 end
        if number == NUMBER_FIRMWARE then return MIN_FRAME + 3 end
    end
    return nil
end

-- A frame of its expected length, checksum right, begins at `at`.
local function fixed_frame_at(view, at)
    if #view.s - at + 1 < MIN_FRAME then return false end
    local length = expected_length(view, at)
    return length ~= nil and at + length - 1 <= #view.s and crc8(view.s, at, at + length - 1) == 0
end

-- The frame that begins at `at`: its length and whether its checksum is
-- right; nil while the bytes so far may still become one, and then true when
-- they are the start of a frame of known length, which is waited for whole.
-- A frame of a length its command does not give ends where a record ended, or
-- where a frame of a known length begins (two frames in one read check out as
-- one: the CRC of a right frame leaves 0 behind).
local function frame_at(view, at)
    local s = view.s
    local left = #s - at + 1
    if left < MIN_FRAME then return nil, false end
    local length = expected_length(view, at)
    if length then
        if left < length then return nil, true end
        if crc8(s, at, at + length - 1) == 0 then return length, true end
    end
    local c = 0
    for i = at, math.min(#s, at + MAX_FRAME - 1) do
        c = CRC[bxor(c, s:byte(i))]
        if c == 0 and i - at + 1 >= MIN_FRAME and (view.ends[i] or fixed_frame_at(view, i + 1)) then
            return i - at + 1, true
        end
    end
    if length then return length, false end
    return nil, false
end

-- Where the next good frame begins after `at`, up to `last`: one of its
-- expected length anywhere, one of another length where a record began.
local function next_frame(view, at, last)
    for i = at + 1, last do
        if fixed_frame_at(view, i) then return i end
        if view.starts[i] then
            local length, good = frame_at(view, i)
            if length and good then return i end
        end
    end
    return nil
end

-- Cuts the view bytes into frames and stray bytes: a list of {from, to, good}
-- (good nil for stray bytes), and where the bytes not yet decided begin.
local function cut(view)
    local pieces, at, size = {}, 1, #view.s
    while at <= size do
        -- Bytes before a good frame are stray when none begins here, or when
        -- the one here checks out wrong; a frame of known length still
        -- coming is waited for.
        local length, good = frame_at(view, at)
        local last = length and at + length - 1 or size
        local after = not good and next_frame(view, at, last)
        if after then
            pieces[#pieces + 1] = { from = at, to = after - 1 }
            at = after
        elseif length then
            pieces[#pieces + 1] = { from = at, to = last, good = good }
            at = last + 1
        elseif size - at + 1 > MAX_PENDING then
            pieces[#pieces + 1] = { from = at, to = size }
            at = size + 1
        else
            break
        end
    end
    return pieces, at
end

-- ---------------------------------------------------------------------------
-- What the first pass found, for every later look at a record.

local lines, records

local function forget()
    lines = {}   -- per interface: the held bytes of each direction, recent frames sent
    records = {} -- per packet number: its pieces, each {offset, length, frame}
end
cpd.init = forget
forget()

local function line_of(interface)
    local line = lines[interface]
    if not line then
        line = { [SENT] = { bytes = "", chunks = {} }, [RECEIVED] = { bytes = "", chunks = {} },
                 sent = {}, echoes = false }
        lines[interface] = line
    end
    return line
end

-- A frame the host sent that comes back on the received side is the line's
-- echo (a two-wire adapter that hears itself): the number of the record that
-- sent it. A confirmation has the very bytes of the answer it confirms: it
-- counts as an echo only on a line that has echoed a request already.
local function echo_of(line, direction, bytes, packet)
    if direction == SENT then
        table.insert(line.sent, { bytes = bytes, head = bytes:sub(1, MIN_FRAME), packet = packet })
        if #line.sent > RECENT_SENT then table.remove(line.sent, 1) end
        return nil
    end
    local request = command(bytes, 1) == TYPE_REQUEST
    if not request and not line.echoes then return nil end
    for i, sent in ipairs(line.sent) do
        if sent.bytes == bytes then
            line.echoes = line.echoes or request
            table.remove(line.sent, i)
            return sent.packet
        end
    end
    return nil
end

-- Hands the bytes from..to of a direction's held bytes to the records they
-- came in, as one piece each; returns the records' parts and the last record.
local function place(chunks, from, to, frame)
    local parts, last = {}, nil
    for _, chunk in ipairs(chunks) do
        local a, b = math.max(from, chunk.at), math.min(to, chunk.at + #chunk.bytes - 1)
        if a <= b then
            table.insert(records[chunk.packet], { offset = chunk.offset + a - chunk.at, length = b - a + 1,
                                                  frame = frame })
            table.insert(parts, { packet = chunk.packet, length = b - a + 1 })
            last = chunk.packet
        end
    end
    return parts, last
end

-- A frame keeps its checksum's verdict and its echo; one that came in
-- several records also its bytes, those records and the one that completes
-- it (a frame in one record is read again from it when shown).
local function take(packet, interface, direction, bytes)
    local line = line_of(interface)
    local held = line[direction]
    local s = held.bytes .. bytes
    table.insert(held.chunks, { packet = packet, offset = 0, at = #held.bytes + 1, bytes = bytes })
    local view = { s = s, received = direction == RECEIVED, sent = line.sent, ends = {}, starts = {} }
    for _, chunk in ipairs(held.chunks) do
        view.starts[chunk.at], view.ends[chunk.at + #chunk.bytes - 1] = true, true
    end
    local pieces, rest = cut(view)
    for _, piece in ipairs(pieces) do
        local frame = piece.good ~= nil and { good = piece.good } or nil
        local parts, last = place(held.chunks, piece.from, piece.to, frame)
        if frame then
            local whole = s:sub(piece.from, piece.to)
            if #parts > 1 then frame.bytes, frame.parts, frame.packet = whole, parts, last end
            if frame.good then frame.echo_of = echo_of(line, direction, whole, last) end
        end
    end
    -- Keep what is not decided yet, each byte with the record it came in.
    local chunks = {}
    for _, chunk in ipairs(held.chunks) do
        local stop = chunk.at + #chunk.bytes - 1
        if stop >= rest then
            local skip = math.max(0, rest - chunk.at)
            table.insert(chunks, { packet = chunk.packet, offset = chunk.offset + skip,
                                   at = chunk.at + skip - rest + 1, bytes = chunk.bytes:sub(skip + 1) })
        end
    end
    held.bytes, held.chunks = s:sub(rest), chunks
end

-- ---------------------------------------------------------------------------
-- Showing a record.

-- The address as the tool shows it: its first six bytes.
local function shown_address(s)
    return string.format("%02x:%02x:%02x:%02x:%02x:%02x", s:byte(1, 6))
end

-- All eight bytes: devices may differ in the last two only.
local function full_address(s)
    if s:sub(1, 8) == string.rep("\255", 8) then return "all" end
    return string.format("%02x:%02x:%02x:%02x:%02x:%02x:%02x:%02x", s:byte(1, 8))
end

local function kind_text(kind)
    return KINDS[kind] and string.format("kind %d (%s)", kind, KINDS[kind]) or "kind " .. kind
end

-- The host's frames, their echo and another master's requests.
local function from_host(frame)
    return frame.direction == SENT or frame.echo_of ~= nil or frame.type == TYPE_REQUEST
end

-- A frame's payload as it is added: `short` says when it lacks bytes its
-- command has, `rest` adds bytes beyond the fields known.
local function payload_of(item, tvb, at, frame)
    local size = #frame.bytes - MIN_FRAME
    local function short(need)
        if size >= need then return false end
        if size > 0 then item:add(f.payload, tvb(at, size)) end
        item:add_proto_expert_info(e.short, string.format("Payload of %d bytes, %d expected", size, need))
        return true
    end
    local function rest(from)
        if size > from then item:add(f.payload, tvb(at + from, size - from)) end
    end
    return size, short, rest
end

local function part_number(s)
    return s:byte(12) * 256 + s:byte(13)
end

-- Adds the payload's fields of a frame from the host; returns what it is.
local function host_fields(item, tvb, at, frame)
    local s = frame.bytes
    local ftype, block, number = command(s, 1)
    local size, short, rest = payload_of(item, tvb, at, frame)
    if block == BLOCK_DEVICE and number == NUMBER_FIRMWARE and (ftype == TYPE_REQUEST or size > 0) then
        if short(3) then return "Firmware part" end
        item:add(f.stage, tvb(at, 1))
        item:add(f.part, tvb(at + 1, 2))
        item:add(f.length, size - 3):set_generated()
        if size > 3 then item:add(f.data, tvb(at + 3, size - 3)) end
        local stage = s:byte(11)
        return string.format("Firmware part %d, stage %d (%s), %d bytes", part_number(s), stage,
                             STAGES[stage] or "unknown", size - 3)
    end
    rest(0)
    if ftype == TYPE_REQUEST and block == BLOCK_SEARCH then
        return number == 1 and "Search request, first pass" or "Search request"
    elseif ftype == TYPE_REQUEST and block == BLOCK_DEVICE and number == NUMBER_VERSION then
        return "Version query"
    elseif ftype == TYPE_RESPONSE and block == BLOCK_SEARCH then
        item:add(f.kind, tvb(at - 1, 1))
        return "Confirmation of a search answer, " .. kind_text(number)
    elseif ftype == TYPE_RESPONSE then
        return string.format("Confirmation of block %d, number %d", block, number)
    end
    return string.format("Frame type %d, block %d, number %d", ftype, block, number)
end

-- Adds the payload's fields of a device's frame; returns what it is.
local function device_fields(item, tvb, at, frame)
    local s = frame.bytes
    local ftype, block, number = command(s, 1)
    local _, short, rest = payload_of(item, tvb, at, frame)
    if ftype == TYPE_RESPONSE and block == BLOCK_SEARCH then
        item:add(f.kind, tvb(at - 1, 1))
        rest(0)
        return "Search answer, " .. kind_text(number)
    elseif ftype == TYPE_RESPONSE and block == BLOCK_DEVICE and number == NUMBER_VERSION then
        if short(2) then return "Version answer" end
        item:add(f.major, tvb(at, 1))
        item:add(f.boot, tvb(at, 1))
        item:add(f.minor, tvb(at + 1, 1))
        rest(2)
        local major = s:byte(11)
        return string.format("Version %d.%d%s", band(major, 0x7F), s:byte(12),
                             band(major, 0x80) ~= 0 and " (boot loader)" or "")
    elseif ftype == TYPE_RESPONSE and block == BLOCK_DEVICE and number == NUMBER_FIRMWARE then
        if short(3) then return "Acknowledgement" end
        item:add(f.ack_stage, tvb(at, 1))
        item:add(f.ack_part, tvb(at + 1, 2))
        rest(3)
        return string.format("Acknowledgement of part %d, stage %d", part_number(s), s:byte(11))
    elseif ftype == TYPE_ERROR then
        if short(4) then return "Error report" end
        item:add_le(f.error, tvb(at, 4))
        rest(4)
        return string.format("Error report, code %d (block %d, number %d)", tvb(at, 4):le_int(), block, number)
    end
    rest(0)
    return string.format("Frame type %d, block %d, number %d", ftype, block, number)
end

-- Adds one frame whose bytes are those of tvb from `at`; returns its summary.
local function add_frame(parent, tvb, at, frame)
    local s = frame.bytes
    local item = parent:add(f.frame, tvb(at, #s))
    item:add(f.id, tvb(at, 8))
    item:add(f.mac, tvb(at, 6), shown_address(s))
    item:add(f.type, tvb(at + 8, 1))
    item:add(f.block, tvb(at + 8, 1))
    item:add(f.number, tvb(at + 9, 1))
    local what
    if from_host(frame) then
        what = host_fields(item, tvb, at + 10, frame) .. " to " .. full_address(s)
    else
        what = device_fields(item, tvb, at + 10, frame) .. " from " .. full_address(s)
    end
    local checksum = item:add(f.checksum, tvb(at + #s - 1, 1))
    if frame.good then
        checksum:append_text(" [correct]")
    else
        checksum:append_text(string.format(" [incorrect, should be 0x%02x]", crc8(s, 1, #s - 1)))
        checksum:add_proto_expert_info(e.bad_checksum)
        what = what .. " [bad checksum]"
    end
    item:add(f.checksum_status, frame.good and 1 or 0):set_generated()
    if frame.echo_of then
        item:add(f.echo_of, frame.echo_of):set_generated()
        what = string.format("Echo of #%d: %s", frame.echo_of, what)
    end
    if frame.parts then
        item:add(f.fragments, #frame.parts):set_generated()
        for _, part in ipairs(frame.parts) do
            item:add(f.fragment, part.packet):append_text(string.format(" (%d bytes)", part.length))
        end
        what = what .. string.format(" [reassembled from %d records]", #frame.parts)
    end
    item:set_text("CPD frame: " .. what)
    return what
end

-- A frame as it is shown: what was kept of it, with its bytes and direction.
local function shown(frame, bytes, direction)
    return { good = frame.good, echo_of = frame.echo_of, parts = frame.parts, bytes = bytes,
             direction = direction, type = command(bytes, 1) }
end

local function show(tvb, pinfo, tree, direction, record)
    local root = tree:add(cpd, tvb(RTAC_HEADER))
    root:append_text(", " .. DIRECTIONS[direction])
    root:add(f.direction, direction):set_generated()
    local texts, covered, size = {}, 0, tvb:len() - RTAC_HEADER
    local function pending(from, to)
        if from >= to then return end
        local item = root:add(f.pending, tvb(RTAC_HEADER + from, to - from))
        if pinfo.visited then item:add_proto_expert_info(e.incomplete) end
        texts[#texts + 1] = string.format("[%d bytes of a frame not complete]", to - from)
    end
    table.sort(record, function(a, b) return a.offset < b.offset end)
    for _, piece in ipairs(record) do
        pending(covered, piece.offset)
        local range = tvb(RTAC_HEADER + piece.offset, piece.length)
        local frame = piece.frame
        if not frame then
            root:add(f.stray, range):add_proto_expert_info(e.stray)
            texts[#texts + 1] = string.format("[%d bytes that form no frame]", piece.length)
        elseif not frame.parts then
            local bytes = tvb:raw(RTAC_HEADER + piece.offset, piece.length)
            texts[#texts + 1] = add_frame(root, tvb, RTAC_HEADER + piece.offset,
                                          shown(frame, bytes, direction))
        elseif frame.packet == pinfo.number then
            local whole = ByteArray.new(frame.bytes, true):tvb("Reassembled CPD frame")
            texts[#texts + 1] = add_frame(root, whole, 0, shown(frame, frame.bytes, direction))
        else
            root:add(f.reassembled_in, range, frame.packet)
                :append_text(string.format(" (%d bytes of it here)", piece.length))
            texts[#texts + 1] = string.format("[%d bytes of a frame completed in #%d]", piece.length,
                                              frame.packet)
        end
        covered = piece.offset + piece.length
    end
    pending(covered, size)
    pinfo.cols.protocol = "CPD"
    pinfo.cols.src = direction == SENT and "host" or "devices"
    pinfo.cols.dst = direction == SENT and "devices" or "host"
    pinfo.cols.info = (direction == SENT and "Sent: " or "Received: ") .. table.concat(texts, "; ")
end

-- Records are dissected in file order on the first pass: that pass cuts the
-- frames and keeps what it found for every later look.
function cpd.dissector(tvb, pinfo, tree)
    if not cpd.prefs.decode or tvb:len() < RTAC_HEADER then
        return rtacser:call(tvb, pinfo, tree)
    end
    rtacser:call(tvb(0, RTAC_HEADER):tvb(), pinfo, tree)
    local event = tvb(8, 1):uint()
    local direction = (event == 1 or event == 3) and SENT or (event == 2 or event == 4) and RECEIVED
        or (pinfo.p2p_dir == 0 and SENT) or (pinfo.p2p_dir == 1 and RECEIVED) or nil
    if tvb:len() == RTAC_HEADER then return tvb:len() end -- an event without bytes
    if not direction then
        tree:add(cpd, tvb(RTAC_HEADER)):add_proto_expert_info(e.no_direction)
        return tvb:len()
    end
    if pinfo.p2p_dir == -1 then pinfo.p2p_dir = direction == SENT and 0 or 1 end
    local record = records[pinfo.number]
    if not record then
        record = {}
        records[pinfo.number] = record
        local interface = interface_id()
        take(pinfo.number, interface and interface.value or 0, direction, tvb:raw(RTAC_HEADER))
    end
    show(tvb, pinfo, tree, direction, record)
    return tvb:len()
end

DissectorTable.get("wtap_encap"):add(wtap_encaps.RTAC_SERIAL, cpd)
