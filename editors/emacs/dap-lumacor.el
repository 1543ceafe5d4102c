;;; dap-lumacor.el --- Debug lumacor programs with dap-mode  -*- lexical-binding: t; -*-

;; Keywords: tools, languages
;; Package-Requires: ((emacs "27.1") (dap-mode "0.7"))

;;; Commentary:

;; A dap-mode debug provider and launch template for lumacor-debug, the
;; lumacor machine's debug adapter.  Load it after dap-mode:
;;
;;   (add-to-list 'load-path "/path/to/lumacor/editors/emacs")
;;   (require 'dap-lumacor)
;;
;; then `M-x dap-debug' and pick "lumacor :: Debug ROM" from a buffer
;; visiting the program's .asm file: the ROM beside it (same name, .rom) is
;; assembled with debug information first, then run.  A launch may name
;; :program (the ROM), :source (the .asm to assemble before each launch;
;; nil to launch the ROM as it is), :debugInfo, :stopOnEntry and
;; :noDisplay, as in docs/debugging.md.
;;
;; dap-mode has no commands for the adapter's steps backwards; this file
;; adds `dap-lumacor-step-back' and `dap-lumacor-reverse-continue'.

;;; Code:

(require 'dap-mode)
;; dap-mode reads the exception filters' settings (the adapter offers
;; "Illegal opcode") from a variable that dap-ui defines.
(require 'dap-ui)

(defgroup dap-lumacor nil
  "Debugging lumacor programs."
  :group 'dap-mode)

(defcustom dap-lumacor-debug-program '("lumacor-debug")
  "The command that runs the debug adapter, program and arguments.
A bare program name is looked up on `exec-path'."
  :type '(repeat string))

(defcustom dap-lumacor-assembler "lumacor-asm"
  "The assembler that builds the program before a launch that names :source."
  :type 'string)

(defun dap-lumacor--find-program (name setting)
  "Return the full path of NAME, or signal an error naming SETTING."
  (or (and (file-name-absolute-p name) (file-executable-p name) (expand-file-name name))
      (executable-find name)
      (user-error "dap-lumacor: cannot find %s (tried %s on exec-path: %s); set `%s' to its full path"
                  name name (string-join exec-path ":") setting)))

(defun dap-lumacor--populate (conf)
  "Fill in the launch configuration CONF for lumacor-debug."
  (let* ((source (if (plist-member conf :source)
                     (plist-get conf :source)
                   (and buffer-file-name
                        (string-match-p "\\.\\(asm\\|s\\)\\'" buffer-file-name)
                        buffer-file-name)))
         (program (or (plist-get conf :program)
                      (and source (concat (file-name-sans-extension source) ".rom"))
                      (read-file-name "ROM image: " nil nil t)))
         (program (expand-file-name program))
         (adapter (cons (dap-lumacor--find-program (car dap-lumacor-debug-program)
                                                   'dap-lumacor-debug-program)
                        (cdr dap-lumacor-debug-program))))
    (when source
      ;; dap-mode runs :dap-compilation through `compilation-start' and
      ;; launches only when it succeeds; the assembler's FILE:LINE:COLUMN
      ;; messages are links there.
      (setq conf (plist-put
                  conf :dap-compilation
                  (mapconcat #'shell-quote-argument
                             (list (dap-lumacor--find-program dap-lumacor-assembler
                                                              'dap-lumacor-assembler)
                                   (expand-file-name source) "-o" program
                                   "-g" (or (plist-get conf :debugInfo) (concat program ".dbg")))
                             " "))))
    (-> conf
        (dap--plist-delete :source)
        (plist-put :program program)
        (dap--put-if-absent :dap-server-path adapter)
        (dap--put-if-absent :type "lumacor")
        (dap--put-if-absent :request "launch")
        (dap--put-if-absent :name "lumacor"))))

(defun dap-lumacor--request (command)
  "Send COMMAND for the stopped thread of the current session."
  (let ((session (dap--cur-session-or-die)))
    (unless (dap--debug-session-thread-id session)
      (user-error "dap-lumacor: the program is not stopped"))
    (dap--step command session)))

(defun dap-lumacor-step-back ()
  "Go back one instruction, to the moment before the last one ran.
Each step back undoes exactly one instruction: after a call has
returned, it lands on that call's RET inside the routine, not on
the CALL.  To go back over a whole call, set a breakpoint on the
CALL and use `dap-lumacor-reverse-continue'."
  (interactive)
  (dap-lumacor--request "stepBack"))

(defun dap-lumacor-reverse-continue ()
  "Run backwards to the latest breakpoint hit, or the start of the history."
  (interactive)
  (dap-lumacor--request "reverseContinue"))

(dap-register-debug-provider "lumacor" #'dap-lumacor--populate)
(dap-register-debug-template "lumacor :: Debug ROM"
                             (list :type "lumacor"
                                   :request "launch"
                                   :name "lumacor"
                                   :stopOnEntry nil))

(provide 'dap-lumacor)
;;; dap-lumacor.el ends here
