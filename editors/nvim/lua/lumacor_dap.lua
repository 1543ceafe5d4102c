-- nvim-dap set-up for lumacor programs: the adapter (lumacor-debug over
-- standard input and output), a launch that assembles the program with
-- debug information first (errors go to the quickfix list), the signs of
-- breakpoints and the stopped line, and keys for the steps backwards.
-- Works with nvim-dap 0.6 and later (Neovim 0.7 runs nvim-dap up to 0.7.0).
--
--   require('lumacor_dap').setup()             -- tools on PATH
--   require('lumacor_dap').setup({ adapter = '/path/to/lumacor-debug',
--                                  assembler = '/path/to/lumacor-asm',
--                                  keys = true })
local M = {}

local function find(name, given)
  local exe = vim.fn.exepath(vim.fn.expand(given or name))
  if exe == '' then
    vim.notify(('lumacor: cannot find %s (tried %s on PATH); pass its full path as setup({ %s = ... })')
      :format(name, given or name, name == 'lumacor-debug' and 'adapter' or 'assembler'), vim.log.levels.ERROR)
    return nil
  end
  return exe
end

-- Assembles SOURCE into ROM with ROM.dbg beside it; on failure the
-- assembler's FILE:LINE:COLUMN: error: lines fill the quickfix list.
local function assemble(assembler, source, rom)
  local asm = find('lumacor-asm', assembler)
  if not asm then return false end
  local out = vim.fn.systemlist({ asm, source, '-o', rom, '-g', rom .. '.dbg' })
  local ok = vim.v.shell_error == 0
  vim.fn.setqflist({}, 'r', { title = 'lumacor-asm', lines = out, efm = '%f:%l:%c: %trror: %m,%f:%l:%c: %tarning: %m,%f: %trror: %m' })
  if not ok then vim.cmd('copen') end
  return ok
end

function M.setup(opts)
  opts = opts or {}
  local dap = require('dap')

  -- The launch is assembled here, once nvim-dap has filled in the
  -- configuration: an adapter that does not call back starts no session in
  -- every nvim-dap version, while dap.ABORT exists only from 0.7 on.
  dap.adapters.lumacor = function(callback, config)
    if (config.program or '') == '' then
      vim.notify('lumacor: no ROM image given: launch cancelled', vim.log.levels.WARN)
      return
    end
    if config.source and not assemble(opts.assembler, config.source, config.program) then
      vim.notify('lumacor: ' .. config.source .. ' did not assemble (see the quickfix list): launch cancelled',
        vim.log.levels.ERROR)
      return
    end
    local exe = find('lumacor-debug', opts.adapter)
    if exe then callback({ type = 'executable', command = exe }) end
  end

  -- The current .asm file, assembled anew before each launch into the .rom
  -- beside it; from another buffer the ROM is asked for.
  local function source()
    local file = vim.fn.expand('%:p')
    if file:match('%.asm$') then return file end
    return nil
  end
  local function program()
    local file = source()
    if file then return (file:gsub('%.asm$', '.rom')) end
    local rom = vim.fn.input('ROM image: ', vim.fn.getcwd() .. '/', 'file')
    return rom ~= '' and vim.fn.fnamemodify(rom, ':p') or ''
  end

  local launch = {
    type = 'lumacor',
    request = 'launch',
    name = 'lumacor: debug ROM',
    source = source,
    program = program,
    stopOnEntry = false,
  }
  for _, ft in ipairs(opts.filetypes or { 'asm' }) do
    dap.configurations[ft] = dap.configurations[ft] or {}
    table.insert(dap.configurations[ft], launch)
  end

  vim.fn.sign_define('DapBreakpoint', { text = '●', texthl = 'DiagnosticError' })
  vim.fn.sign_define('DapBreakpointCondition', { text = '◆', texthl = 'DiagnosticError' })
  vim.fn.sign_define('DapLogPoint', { text = '◇', texthl = 'DiagnosticInfo' })
  vim.fn.sign_define('DapBreakpointRejected', { text = '○', texthl = 'DiagnosticWarn' })
  vim.fn.sign_define('DapStopped', { text = '→', texthl = 'DiagnosticInfo', linehl = 'Visual' })

  if opts.keys then
    local map = function(lhs, fn, desc) vim.keymap.set('n', lhs, fn, { desc = 'lumacor: ' .. desc }) end
    map('<F5>', dap.continue, 'start or continue')
    map('<S-F5>', dap.reverse_continue, 'reverse continue')
    map('<F9>', dap.toggle_breakpoint, 'toggle breakpoint')
    map('<F10>', dap.step_over, 'step over')
    map('<F11>', dap.step_into, 'step into')
    map('<S-F11>', dap.step_out, 'step out')
    map('<F12>', dap.step_back, 'step back')
  end
end

return M
